// TMetricsHttpListener: the small HTTP/1.x listener under the monitoring endpoint. It answers one
// GET (or HEAD) per connection and closes it, and is built so that no client can keep it from
// answering the others (a load balancer takes the server out when /health goes unanswered):
//   - every connection is read and written asynchronously by one network thread, so an idle or
//     slow client holds a socket, never a thread;
//   - the request head must be complete within `head_timeout` and `max_head_bytes`, the answer
//     written within `write_timeout`; past either the connection is closed;
//   - at most `max_connections` are open; one more closes the oldest connection still sending
//     its head (those being answered are kept), so a flood cannot crowd out a new, quick check;
//   - the answers are made on `worker_threads` threads of their own, which only ever run the
//     responder: a complete request is needed to reach one.
//
// Thread rules: construction and destruction belong to the owner's thread. The responder runs
// on the worker threads, on several at once; it must be safe from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

struct HttpResponse {
  int status = 200;
  std::string content_type;
  std::string body;
};

struct HttpListenerLimits {
  std::chrono::milliseconds head_timeout{3000};
  std::chrono::milliseconds write_timeout{5000};
  size_t max_head_bytes = 8192;
  size_t max_connections = 512;
  int worker_threads = 2;
};

class TMetricsHttpListener {
 public:
  // Answers a GET for `path`: the request target up to its query ("?...").
  using Responder = std::function<HttpResponse(std::string_view path)>;

  // Listens on `address`:`port` (IPv4 or IPv6, without brackets). Raises std::system_error
  // (bad address, port in use) when it cannot.
  TMetricsHttpListener(const std::string& address, int port, Responder respond,
                       HttpListenerLimits limits = {});
  // Stops listening and closes every connection; answers being made are finished first.
  ~TMetricsHttpListener();
  TMetricsHttpListener(const TMetricsHttpListener&) = delete;
  TMetricsHttpListener& operator=(const TMetricsHttpListener&) = delete;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
