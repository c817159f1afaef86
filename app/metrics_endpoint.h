// TMetricsEndpoint: the HTTP listener of the operator's monitoring, on its own address and port
// (CONFIG.CFG [Metrics]). Two paths, GET only:
//   /metrics  the server's metrics in the Prometheus text format (app/metrics_text.h);
//   /health   200 and {"status":"ok"} while `health` finds nothing wrong, else 503 and
//             {"status":"unavailable","reason":"..."}.
// Every other path is 404: the paths match exactly (a query after "?" is not part of the path).
// The listener (app/metrics_endpoint_http.h) keeps answering while other clients hold idle or
// slow connections open.
//
// Thread rules: Start, Stop and the destructor belong to the owner's thread. `health` runs on
// the listener's worker threads, possibly on several at once; it must be safe from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

struct HttpResponse;
class TMetricsHttpListener;

class TMetricsEndpoint {
 public:
  // Empty when healthy; else the reason, one line for the operator.
  using HealthCheck = std::function<std::string()>;

  explicit TMetricsEndpoint(HealthCheck health);
  ~TMetricsEndpoint();
  TMetricsEndpoint(const TMetricsEndpoint&) = delete;
  TMetricsEndpoint& operator=(const TMetricsEndpoint&) = delete;

  // Listens on `address`:`port` (an IPv6 address without brackets is accepted). Raises
  // EVelmoraError, naming the address, when it cannot listen. Stops a listener already running
  // first.
  void Start(const std::string& address, int port);
  // Stops listening; requests under way are finished first. Nothing when stopped.
  void Stop();
  bool Running() const { return listener_ != nullptr; }

 private:
  HttpResponse Respond(std::string_view path) const;

  HealthCheck health_;
  std::unique_ptr<TMetricsHttpListener> listener_;
};

// The JSON text of a string value, quotes included.
std::string JsonString(const std::string& text);

}  // namespace velmora
