// TLS on the wire, end to end with a throwaway certificate: a client that trusts it is served,
// and every mismatch of TLS and plain, or an untrusted certificate, fails the connect.
#include <gtest/gtest.h>

#include <cstdlib>

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
  TempDir temp_;
  std::string dir_;
};

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
