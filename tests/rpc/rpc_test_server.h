// A small server class on a real TCP server (loopback, port 0), with every event recorded, for
// the remote-method layer's tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/time.h>
#endif

#include "common/call_stop.h"
#include "rpc/client_channel.h"
#include "rpc/ds_server.h"
#include "rpc/frame_codec.h"
#include "rpc/messages.h"

namespace velmora::test {

inline constexpr const char* kClass = "TTestModule";
inline constexpr const char* kUser = "admin";
inline constexpr const char* kPassword = "secret";

class TTestModule : public TDSServerModuleBase {
 public:
  OleVariant Echo(const OleVariant& v) { return v; }
  OleVariant SQL2OleVariant(const std::string& SQLStr, std::string& ErrMsg) {
    ErrMsg = "err:" + SQLStr;
    return OleVariant::Bytes(SQLStr);
  }
  int32_t Add(int32_t a, int64_t b, int64_t& Sum64, bool& Negative) {
    Sum64 = a + b;
    Negative = Sum64 < 0;
    return static_cast<int32_t>(Sum64);
  }
  double Now() { return 45000.5; }
  void Nap(int32_t ms) {
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  // Sleeps up to `ms`, or until the call's stop token is stopped; true when it was.
  bool Wait(int32_t ms) {
    started = true;
    const std::stop_token stop = CurrentCallStopToken();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      if (stop.stop_requested()) {
        stopped = true;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  void Fail(const std::string& message) {
    try {
      try {
        throw std::runtime_error("disk full");
      } catch (...) {
        std::throw_with_nested(std::runtime_error("write failed"));
      }
    } catch (...) {
      std::throw_with_nested(std::runtime_error(message));
    }
  }
  OleVariant Bytes(int32_t size, bool random) {
    std::vector<uint8_t> b(static_cast<size_t>(size));
    uint32_t x = 2463534242u;
    for (auto& c : b) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      c = random ? static_cast<uint8_t>(x) : static_cast<uint8_t>('a' + (&c - b.data()) % 3);
    }
    return OleVariant::Bytes(std::move(b));
  }

  std::atomic<bool> started{false};
  std::atomic<bool> stopped{false};
};

inline const TDSMethodTable& TestMethods() {
  static const TDSMethodTable table = [] {
    TDSMethodTable t(kClass);
    t.Add("Echo", &TTestModule::Echo)
        .Add("SQL2OleVariant", &TTestModule::SQL2OleVariant)
        .Add("Add", &TTestModule::Add)
        .AddDateTime("Now", &TTestModule::Now)
        .Add("Nap", &TTestModule::Nap)
        .Add("Wait", &TTestModule::Wait)
        .Add("Fail", &TTestModule::Fail)
        .Add("Bytes", &TTestModule::Bytes);
    return t;
  }();
  return table;
}

// Records events and waits for them across threads.
class EventLog {
 public:
  void Add(std::string e) {
    std::lock_guard lock(mu_);
    events_.push_back(std::move(e));
    cv_.notify_all();
  }
  std::vector<std::string> Events() {
    std::lock_guard lock(mu_);
    return events_;
  }
  size_t Count(const std::string& e) {
    std::lock_guard lock(mu_);
    return static_cast<size_t>(std::count(events_.begin(), events_.end(), e));
  }
  // Waits until `e` has happened `n` times; false after 10 seconds.
  bool WaitFor(const std::string& e, size_t n = 1) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] {
      return static_cast<size_t>(std::count(events_.begin(), events_.end(), e)) >= n;
    });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> events_;
};

class RpcServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    transport_.Port = 0;
    transport_.BindAddress = "127.0.0.1";
    transport_.MaxFrameSize = 1u << 20;
    transport_.AuthenticationManager = &auth_;
    transport_.OnConnect = [this](const TDSTCPConnectEventObject& e) {
      {
        std::lock_guard lock(instances_mu_);
        channel_ids_.push_back(e.Channel->ChannelInfo.Id);
        peer_ = e.Channel->ChannelInfo.ClientInfo.IpAddress + ":" +
                e.Channel->ChannelInfo.ClientInfo.ClientPort;
      }
      log_.Add("connect");
      throw std::runtime_error("handlers' exceptions are swallowed");
    };
    transport_.OnDisconnect = [this](const TDSTCPDisconnectEventObject&) {
      log_.Add("disconnect");
      throw std::runtime_error("handlers' exceptions are swallowed");
    };
    auth_.OnUserAuthenticate = [this](TDSAuthenticationManager&, const std::string& protocol,
                                      const std::string&, const std::string& user,
                                      const std::string& password, bool& valid,
                                      std::vector<std::string>& roles) {
      log_.Add("authenticate:" + protocol);
      valid = user == kUser && password == kPassword;
      if (valid) roles.push_back("admins");
    };
    auth_.OnUserAuthorize = [this](TDSAuthenticationManager&, const TDSAuthorizeEventObject& e,
                                   bool& valid) {
      if (log_.Count("authorize") == 0) log_.Add("authorize");
      valid = e.MethodAlias != denied_ && e.UserRoles == std::vector<std::string>{"admins"};
    };
    class_.OnGetClass = [](TDSServerClass&, const TDSMethodTable*& c) { c = &TestMethods(); };
    class_.OnCreateInstance = [this](TDSCreateInstanceEventObject& e) {
      std::lock_guard lock(instances_mu_);
      instances_.push_back(std::make_unique<TTestModule>());
      e.ServerClassInstance = instances_.back().get();
      log_.Add("create");
    };
    class_.OnDestroyInstance = [this](TDSDestroyInstanceEventObject& e) {
      EXPECT_NE(e.ServerClassInstance, nullptr);
      log_.Add("destroy");
    };
    server_.Transport = &transport_;
    server_.ServerClass = &class_;
    server_.Start();
  }

  void TearDown() override { server_.Stop(); }

  uint16_t Port() const { return transport_.BoundPort(); }

  std::unique_ptr<TDSClientChannel> Connect() {
    auto c = std::make_unique<TDSClientChannel>();
    c->Connect("127.0.0.1", Port(), kUser, kPassword);
    return c;
  }

  TTestModule* Instance(size_t i) {
    std::lock_guard lock(instances_mu_);
    return i < instances_.size() ? instances_[i].get() : nullptr;
  }

  // A well-behaved client still gets served.
  void ExpectServing() {
    auto c = Connect();
    const OleVariant arg = OleVariant(int32_t{42});
    EXPECT_EQ(c->Call(kClass, "Echo", std::span(&arg, 1)).Result, arg);
  }

  TDSServer server_;
  TDSTCPServerTransport transport_;
  TDSServerClass class_;
  TDSAuthenticationManager auth_;
  EventLog log_;
  std::string denied_;
  std::vector<int> channel_ids_;
  std::string peer_;
  std::mutex instances_mu_;
  std::vector<std::unique_ptr<TTestModule>> instances_;
};

// A client that speaks raw bytes.
class RawClient {
 public:
  explicit RawClient(uint16_t port) : socket_(io_) {
    socket_.connect({asio::ip::make_address("127.0.0.1"), port});
#ifndef _WIN32
    timeval tv{10, 0};  // a test never hangs on a silent server
    setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
#endif
  }
  void Send(std::string_view bytes) {
    asio::write(socket_, asio::buffer(bytes.data(), bytes.size()));
  }
  void SendMessage(std::string_view message, uint8_t flags = 0) {
    std::string frame(kFrameHeaderSize, '\0');
    const uint32_t n = static_cast<uint32_t>(message.size());
    std::memcpy(frame.data(), &n, 4);
    frame[4] = static_cast<char>(flags);
    frame.append(message);
    Send(frame);
  }
  void Login() {
    std::string m;
    EncodeHello(HelloMessage{kProtocolVersion, kUser, kPassword, "tcp/ip"}, m);
    SendMessage(m);
    std::string reply;
    ASSERT_TRUE(ReadMessage(reply));
    ASSERT_EQ(PeekMessageType(reply), static_cast<uint8_t>(TDSMessageType::HelloReply))
        << reply.substr(5);
    HelloReplyMessage r;
    DecodeHelloReply(reply, r);
    ASSERT_TRUE(r.Accepted);
  }
  // Reads one frame; false when the server closed the connection.
  bool ReadFrame(FrameHeader& header, std::string& payload) {
    uint8_t h[kFrameHeaderSize];
    asio::error_code ec;
    asio::read(socket_, asio::buffer(h), ec);
    if (ec) return false;
    std::memcpy(&header.length, h, 4);
    header.flags = h[4];
    payload.resize(header.length);
    asio::read(socket_, asio::buffer(payload), ec);
    return !ec;
  }
  bool ReadMessage(std::string& message) {
    FrameHeader h;
    std::string payload;
    if (!ReadFrame(h, payload)) return false;
    TDSFrameCodec codec(kDefaultCompressMoreThan, kDefaultMaxFrameSize);
    message = std::string(codec.Unpack(h, payload));
    return true;
  }
  // The text of the error message the server answers with; "" when it closed instead.
  std::string ReadError() {
    std::string m;
    if (!ReadMessage(m)) return {};
    std::string text;
    DecodeError(m, text);
    return text;
  }
  bool ClosedByServer() {
    char c;
    asio::error_code ec;
    socket_.read_some(asio::buffer(&c, 1), ec);
    return ec == asio::error::eof || ec == asio::error::connection_reset;
  }
  void Close() {
    socket_.close();
  }

 private:
  asio::io_context io_;
  asio::ip::tcp::socket socket_;
};

}  // namespace velmora::test
