// TLS on the wire, end to end with a throwaway certificate: a client that trusts it is served,
// and every mismatch of TLS and plain, or an untrusted certificate, fails the connect. The suites
// the server accepts are probed one at a time with a bare OpenSSL client.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "rpc/rpc_errors.h"
#include "tests/rpc/hardening_test_support.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

class TlsTest : public LimitsTest {
 protected:
  void SetUp() override {
    dir_ = temp_.Path();
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
        " -addext subjectAltName=IP:127.0.0.1 -keyout " +
        dir_ + "/key.pem -out " + dir_ + "/cert.pem 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    LimitsTest::SetUp();
  }
  void TearDown() override { LimitsTest::TearDown(); }
  void RestartWithTls(bool on) {
    server_.Stop();
    transport_.Tls =
        on ? TDSTlsServerSettings{dir_ + "/cert.pem", dir_ + "/key.pem"} : TDSTlsServerSettings{};
    server_.Start();
  }
  // "served", or the error the connect or the call raised.
  std::string Try(const TDSTlsClientSettings& tls) {
    try {
      TDSClientChannel c;
      c.Tls = tls;
      c.Connect("127.0.0.1", Port(), kUser, kPassword);
      const OleVariant arg = OleVariant::OleStr(std::string(5000, 'x'));  // deflated both ways
      return c.Call(kClass, "Echo", std::span(&arg, 1)).Result == arg ? "served" : "wrong result";
    } catch (const EDSConnectionError&) {
      return "connection error";
    } catch (const std::exception& e) {
      return e.what();
    }
  }
  // Whether the server completes a handshake with a client that offers only `suite`, of TLS
  // `version` (TLS1_2_VERSION: an OpenSSL cipher name; TLS1_3_VERSION: a TLS 1.3 suite name).
  // Waits for the server to drop the connection, so that the next probe is not counted against
  // the address's connections waiting for a login.
  bool ServerAccepts(int version, const std::string& suite) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_security_level(ctx, 0);  // legacy suites must be offered to be refused
    SSL_CTX_set_min_proto_version(ctx, version);
    SSL_CTX_set_max_proto_version(ctx, version);
    const int set = version == TLS1_3_VERSION ? SSL_CTX_set_ciphersuites(ctx, suite.c_str())
                                              : SSL_CTX_set_cipher_list(ctx, suite.c_str());
    EXPECT_EQ(set, 1) << suite;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval bound{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool accepted = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      SSL* ssl = SSL_new(ctx);
      SSL_set_fd(ssl, fd);
      accepted = SSL_connect(ssl) == 1;
      if (accepted) {
        EXPECT_EQ(SSL_version(ssl), version) << suite;
      }
      ERR_clear_error();  // a refused handshake leaves its reasons on this thread's queue
      SSL_free(ssl);
    } else {
      ADD_FAILURE() << "no connection for " << suite;
    }
    ::close(fd);
    SSL_CTX_free(ctx);
    EXPECT_TRUE(WaitConnections(0)) << suite;
    return accepted;
  }
  TempDir temp_;
  std::string dir_;
};

// The names of every TLS 1.2 cipher suite this OpenSSL build can offer as a client, legacy ones
// included (TLS 1.3 suites are negotiated apart and left out).
std::vector<std::string> Tls12ClientSuites() {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_security_level(ctx, 0);
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_cipher_list(ctx, "ALL:COMPLEMENTOFALL");
  SSL* ssl = SSL_new(ctx);
  std::vector<std::string> names;
  STACK_OF(SSL_CIPHER)* supported = SSL_get1_supported_ciphers(ssl);
  for (int i = 0; i < sk_SSL_CIPHER_num(supported); ++i) {
    const SSL_CIPHER* cipher = sk_SSL_CIPHER_value(supported, i);
    if (std::string(SSL_CIPHER_get_version(cipher)) != "TLSv1.3")
      names.emplace_back(SSL_CIPHER_get_name(cipher));
  }
  sk_SSL_CIPHER_free(supported);
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  return names;
}

// TLS 1.2 is served only with ECDHE key exchange and an AEAD cipher (AES-GCM, ChaCha20-Poly1305),
// for the kind of key the certificate holds; no RSA key exchange, CBC mode or SHA-1 MAC. TLS 1.3
// is served with each of OpenSSL's default suites.
TEST_F(TlsTest, OnlyEcdheWithAeadSuitesAreAcceptedForTls12AndTls13IsServed) {
  ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
                         " -days 1 -subj /CN=127.0.0.1 -keyout " +
                         dir_ + "/ec-key.pem -out " + dir_ + "/ec-cert.pem 2>/dev/null")
                            .c_str()),
            0);
  const std::vector<std::string> offered = Tls12ClientSuites();
  // The legacy suites the server must refuse are among those tried.
  for (const char* legacy : {"AES128-GCM-SHA256", "AES256-SHA256", "AES128-SHA",
                             "ECDHE-RSA-AES128-SHA", "ECDHE-RSA-AES256-SHA384"}) {
    EXPECT_NE(std::find(offered.begin(), offered.end(), legacy), offered.end()) << legacy;
  }
  struct Case {
    const char* certificate;
    const char* key;
    std::set<std::string> accepted;
  };
  const Case cases[] = {
      {"cert.pem",
       "key.pem",
       {"ECDHE-RSA-AES128-GCM-SHA256", "ECDHE-RSA-AES256-GCM-SHA384",
        "ECDHE-RSA-CHACHA20-POLY1305"}},
      {"ec-cert.pem",
       "ec-key.pem",
       {"ECDHE-ECDSA-AES128-GCM-SHA256", "ECDHE-ECDSA-AES256-GCM-SHA384",
        "ECDHE-ECDSA-CHACHA20-POLY1305"}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.certificate);
    server_.Stop();
    transport_.Tls = TDSTlsServerSettings{dir_ + "/" + t.certificate, dir_ + "/" + t.key};
    server_.Start();
    std::set<std::string> accepted;
    for (const std::string& suite : offered) {
      if (ServerAccepts(TLS1_2_VERSION, suite)) accepted.insert(suite);
    }
    EXPECT_EQ(accepted, t.accepted) << offered.size() << " TLS 1.2 suites tried";
    for (const char* suite :
         {"TLS_AES_128_GCM_SHA256", "TLS_AES_256_GCM_SHA384", "TLS_CHACHA20_POLY1305_SHA256"}) {
      EXPECT_TRUE(ServerAccepts(TLS1_3_VERSION, suite)) << suite;
    }
  }
}

TEST_F(TlsTest, OnlyAClientSpeakingTlsAndTrustingTheCertificateIsServed) {
  const std::string ca = dir_ + "/cert.pem";
  struct Case {
    const char* name;
    bool server_tls;
    TDSTlsClientSettings client;
    std::string outcome;
  };
  const Case cases[] = {
      {"TLS, the certificate trusted", true, {true, ca}, "served"},
      {"plain client, TLS server", true, {false, ""}, "connection error"},
      {"TLS, the system's store only", true, {true, ""}, "connection error"},
      {"TLS client, plain server", false, {true, ca}, "connection error"},
      {"plain both", false, {false, ""}, "served"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    RestartWithTls(t.server_tls);
    EXPECT_EQ(Try(t.client), t.outcome);
    EXPECT_TRUE(WaitConnections(0));
  }
}

TEST_F(TlsTest, AServerWhoseCertificateCannotBeReadDoesNotStart) {
  server_.Stop();
  transport_.Tls = TDSTlsServerSettings{dir_ + "/missing.pem", dir_ + "/key.pem"};
  try {
    server_.Start();
    ADD_FAILURE() << "started without its certificate";
  } catch (const EDSServerError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.pem"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(server_.Started());
  transport_.Tls = {};
  server_.Start();
}

}  // namespace
}  // namespace velmora::test
