// Support for the tests of the limits every client is held to: a server restarted under given
// limits, and a plain blocking socket whose every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "common/server_limits.h"
#include "tests/rpc/rpc_test_server.h"

namespace velmora::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

inline std::string Frame(std::string_view message, uint8_t flags = 0) {
  std::string f(kFrameHeaderSize, '\0');
  const uint32_t n = static_cast<uint32_t>(message.size());
  std::memcpy(f.data(), &n, 4);
  f[4] = static_cast<char>(flags);
  f.append(message);
  return f;
}

// A deflated frame whose message is `size` zero bytes, made without holding them.
inline std::string DeflatedZerosFrame(uint32_t size) {
  z_stream z{};
  deflateInit(&z, Z_BEST_COMPRESSION);
  std::string payload(4, '\0');
  std::memcpy(payload.data(), &size, 4);
  const std::string zeros(1u << 20, '\0');
  char out[1u << 16];
  uint32_t left = size;
  int flush = Z_NO_FLUSH;
  do {
    const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(zeros.size()));
    left -= n;
    flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = n;
    do {
      z.next_out = reinterpret_cast<Bytef*>(out);
      z.avail_out = sizeof out;
      deflate(&z, flush);
      payload.append(out, sizeof out - z.avail_out);
    } while (z.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&z);
  return Frame(payload, kFrameDeflated);
}

inline std::string HelloBytes(const std::string& user, const std::string& password) {
  std::string m;
  EncodeHello(HelloMessage{kProtocolVersion, user, password, "tcp/ip"}, m);
  return m;
}

inline std::string CallMessage(const char* method, std::vector<OleVariant> args = {}) {
  std::string m;
  EncodeCall(kClass, method, args, m);
  return m;
}

// A client socket on 127.0.0.1 whose reads give up after a time instead of hanging a test.
class Sock {
 public:
  explicit Sock(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Close();
  }
  ~Sock() { Close(); }
  Sock(const Sock&) = delete;
  Sock& operator=(const Sock&) = delete;

  bool Open() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // False when the server has closed the connection.
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }
  // The next message, or nothing when the connection closed or `within` passed.
  std::optional<std::string> Read(milliseconds within = milliseconds(10000)) {
    const auto end = Clock::now() + within;
    std::string header, payload;
    if (!ReadExactly(header, kFrameHeaderSize, end)) return std::nullopt;
    FrameHeader h;
    std::memcpy(&h.length, header.data(), 4);
    h.flags = static_cast<uint8_t>(header[4]);
    if (!ReadExactly(payload, h.length, end)) return std::nullopt;
    TDSFrameCodec codec(kDefaultCompressMoreThan, kDefaultMaxFrameSize);
    return std::string(codec.Unpack(h, payload));
  }
  // The text of the next message when it is an error message; "" otherwise.
  std::string ReadError(milliseconds within = milliseconds(10000)) {
    const auto m = Read(within);
    if (!m || m->empty() ||
        static_cast<uint8_t>((*m)[0]) != static_cast<uint8_t>(TDSMessageType::Error)) {
      return {};
    }
    std::string text;
    DecodeError(*m, text);
    return text;
  }
  // Sends a hello; true when it was accepted.
  bool Login(const std::string& user = kUser, const std::string& password = kPassword) {
    if (!Send(Frame(HelloBytes(user, password)))) return false;
    const auto m = Read();
    if (!m || m->empty() ||
        static_cast<uint8_t>((*m)[0]) != static_cast<uint8_t>(TDSMessageType::HelloReply)) {
      return false;
    }
    HelloReplyMessage r;
    DecodeHelloReply(*m, r);
    return r.Accepted;
  }
  // True when a call of Now is answered with its result.
  bool Served() {
    if (!Send(Frame(CallMessage("Now")))) return false;
    const auto m = Read();
    if (!m || m->empty() ||
        static_cast<uint8_t>((*m)[0]) != static_cast<uint8_t>(TDSMessageType::Reply)) {
      return false;
    }
    ReplyMessage r;
    DecodeReply(*m, r);
    return r.Result == OleVariant::Date(45000.5);
  }
  // Waits, throwing away what arrives, until the server closes; false when it has not closed
  // within `within`.
  bool WaitClosed(milliseconds within) {
    const auto end = Clock::now() + within;
    char sink[4096];
    while (WaitReadable(end)) {
      const ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
      if (n <= 0) return true;
    }
    return false;
  }

 private:
  bool WaitReadable(Clock::time_point end) {
    if (fd_ < 0) return false;
    const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(left)) > 0;
  }
  bool ReadExactly(std::string& into, size_t n, Clock::time_point end) {
    into.resize(n);
    size_t got = 0;
    while (got < n) {
      if (!WaitReadable(end)) return false;
      const ssize_t k = ::recv(fd_, into.data() + got, n - got, 0);
      if (k <= 0) return false;
      got += static_cast<size_t>(k);
    }
    return true;
  }
  int fd_ = -1;
};

// The remote-method test server, restarted under the limits a test gives.
class LimitsTest : public RpcServerTest {
 protected:
  void TearDown() override {
    RpcServerTest::TearDown();
    SetServerLimits(ServerLimits{});
  }
  void Restart(const ServerLimits& limits) {
    server_.Stop();
    SetServerLimits(limits);
    server_.Start();
  }
  // Waits until the transport counts `n` connections; false after 5 seconds.
  bool WaitConnections(size_t n) {
    const auto end = Clock::now() + seconds(5);
    while (transport_.ConnectionCount() != n) {
      if (Clock::now() > end) return false;
      std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
  }
};

}  // namespace velmora::test
