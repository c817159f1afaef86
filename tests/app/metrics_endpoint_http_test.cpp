// The monitoring endpoint's HTTP side, in this process: which paths and methods answer what, and
// that /health keeps answering while other clients hold connections open doing nothing, send
// their request a byte a second, or open more connections than the listener keeps.
#include "app/metrics_endpoint_http.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/metrics_endpoint.h"
#include "tests/support/free_port.h"
#include "tests/support/http_get.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

// Whether the server closed `fd` (end of stream or reset) within `wait_ms`, nothing received.
bool ClosedByServer(int fd, int wait_ms) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, wait_ms) <= 0) return false;
  char byte;
  return ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
}

class EndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreeLoopbackPort();
    ASSERT_NE(port_, 0);
    endpoint_.Start("127.0.0.1", port_);
  }

  int port_ = 0;
  TMetricsEndpoint endpoint_{[] { return std::string(); }};
};

TEST_F(EndpointTest, OnlyTheExactPathsAndGetOrHeadAnswer) {
  struct Case {
    const char* request_line;
    int status;
    bool has_body;
  };
  const Case cases[] = {
      {"GET /health HTTP/1.1", 200, true},
      {"GET /metrics HTTP/1.1", 200, true},
      {"GET /health?from=haproxy HTTP/1.0", 200, true},  // the query is not part of the path
      {"HEAD /health HTTP/1.1", 200, false},
      {"GET /healthz HTTP/1.1", 404, true},
      {"GET /health/x HTTP/1.1", 404, true},
      {"GET //metrics HTTP/1.1", 404, true},
      {"GET /metrics/ HTTP/1.1", 404, true},
      {"GET /HEALTH HTTP/1.1", 404, true},
      {"GET / HTTP/1.1", 404, true},
      {"GET http://127.0.0.1/health HTTP/1.1", 404, true},
      {"POST /health HTTP/1.1", 405, true},
      {"DELETE /metrics HTTP/1.1", 405, true},
      {"GET /health", 400, true},
      {"GET /health SPDY/3", 400, true},
      {"\x16\x03\x01", 400, true},  // a TLS hello's first bytes, then a blank line
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request_line);
    const HttpReply reply =
        Request(port_, std::string(c.request_line) + "\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(reply.status, c.status) << reply.body;
    EXPECT_EQ(!reply.body.empty(), c.has_body) << reply.body;
  }
  EXPECT_EQ(Get(port_, "/health").body, "{\"status\":\"ok\"}\n");
  EXPECT_NE(Get(port_, "/metrics").body.find("process_resident_memory_bytes"), std::string::npos);
}

// Connections an attacker keeps open against the listener: `idle` that send nothing and
// `trickling` that send a request a byte a second; each is opened again as soon as the server
// closes it, for as long as the object lives.
class HeldConnections {
 public:
  HeldConnections(int port, int idle, int trickling)
      : port_(port), fds_(static_cast<size_t>(idle + trickling), -1), idle_(idle) {
    for (int& fd : fds_) fd = ConnectLoopback(port_);
    thread_ = std::thread([this] { Hold(); });
  }
  ~HeldConnections() {
    stop_ = true;
    thread_.join();
    for (const int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  HeldConnections(const HeldConnections&) = delete;
  HeldConnections& operator=(const HeldConnections&) = delete;

  int Reopened() const { return reopened_; }

 private:
  void Hold() {
    static constexpr std::string_view kRequest = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
    for (size_t tick = 0; !stop_; ++tick) {
      for (size_t i = 0; i < fds_.size(); ++i) {
        bool closed = fds_[i] < 0 || ClosedByServer(fds_[i], 0);
        if (!closed && static_cast<int>(i) >= idle_ && tick % 10 == 0) {
          const char byte = kRequest[(tick / 10) % (kRequest.size() - 4)];  // never the end
          closed = ::send(fds_[i], &byte, 1, MSG_NOSIGNAL) != 1;
        }
        if (closed) {
          if (fds_[i] >= 0) ::close(fds_[i]);
          fds_[i] = ConnectLoopback(port_);
          ++reopened_;
        }
      }
      std::this_thread::sleep_for(100ms);
    }
  }

  const int port_;
  std::vector<int> fds_;
  const int idle_;
  std::atomic<bool> stop_{false};
  std::atomic<int> reopened_{0};
  std::thread thread_;
};

TEST_F(EndpointTest, HealthAnswersWhileIdleAndTricklingConnectionsAreHeld) {
  HeldConnections held(port_, 20, 10);
  // Checks spread over more than one head time-out, so that some come while the held
  // connections are being closed and opened again. Each must be answered within 5 s.
  for (int check = 0; check < 6; ++check) {
    SCOPED_TRACE(check);
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(Get(port_, "/health", 5000).status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
    std::this_thread::sleep_for(1s);
  }
  // The listener did close the held connections (after its head time-out) and they came back.
  EXPECT_GT(held.Reopened(), 0);
}

HttpResponse Answered(std::string_view) {
  return {200, "text/plain", "answered\n"};
}

TEST(MetricsHttpListener, MoreConnectionsThanItKeepsCloseTheOldestStillSendingTheirHead) {
  const int port = FreeLoopbackPort();
  ASSERT_NE(port, 0);
  HttpListenerLimits limits;
  limits.max_connections = 8;
  limits.head_timeout = 60s;  // only making room frees a place here
  TMetricsHttpListener listener("127.0.0.1", port, Answered, limits);
  std::vector<int> idle;
  for (int i = 0; i < 30; ++i) idle.push_back(ConnectLoopback(port));
  EXPECT_EQ(Get(port, "/health", 5000).status, 200);
  EXPECT_TRUE(ClosedByServer(idle.front(), 5000));
  EXPECT_FALSE(ClosedByServer(idle.back(), 0));
  for (const int fd : idle) ::close(fd);
}

TEST(MetricsHttpListener, AHeadTooSlowOrTooLongIsClosedUnanswered) {
  const int port = FreeLoopbackPort();
  ASSERT_NE(port, 0);
  HttpListenerLimits limits;
  limits.head_timeout = 300ms;
  limits.max_head_bytes = 1024;
  TMetricsHttpListener listener("127.0.0.1", port, Answered, limits);
  struct Case {
    const char* what;
    std::string sent;
  };
  const Case cases[] = {
      {"nothing", ""},
      {"a head without its end", "GET /health HTTP/1.1\r\nHost: x\r\n"},
      {"a head longer than the limit", "GET /health HTTP/1.1\r\nX: " + std::string(2000, 'a')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int fd = ConnectLoopback(port);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::send(fd, c.sent.data(), c.sent.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(c.sent.size()));
    EXPECT_TRUE(ClosedByServer(fd, 5000));
    ::close(fd);
  }
  EXPECT_EQ(Get(port, "/health", 5000).status, 200);
}

}  // namespace
}  // namespace velmora::test
