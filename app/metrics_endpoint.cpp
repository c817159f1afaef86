#include "app/metrics_endpoint.h"

#include <CivetServer.h>
#include <fmt/format.h>

#include <exception>
#include <utility>
#include <vector>

#include "app/metrics_text.h"
#include "common/memory_budget.h"
#include "common/server_metrics.h"
#include "common/velmora_error.h"

namespace velmora {

namespace {

struct Response {
  int status;
  const char* content_type;
  std::string body;
};

void Send(mg_connection* conn, const Response& r) {
  const char* reason = r.status == 200 ? "OK" : r.status == 503 ? "Service Unavailable" : "Error";
  mg_printf(conn,
            "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
            "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
            r.status, reason, r.content_type, r.body.size());
  mg_write(conn, r.body.data(), r.body.size());
}

Response MetricsResponse() {
  MemoryBudget& budget = MemoryBudget::Process();
  return {200, "text/plain; version=0.0.4; charset=utf-8",
          MetricsText(metrics::Metrics(), {budget.InUse(), budget.Total()}, SampleProcess())};
}

Response HealthResponse(const TMetricsEndpoint::HealthCheck& health) {
  std::string reason;
  try {
    reason = health();
  } catch (const std::exception& e) {
    reason = e.what();
  }
  if (reason.empty()) return {200, "application/json", "{\"status\":\"ok\"}\n"};
  return {503, "application/json",
          fmt::format("{{\"status\":\"unavailable\",\"reason\":{}}}\n", JsonString(reason))};
}

}  // namespace

class TMetricsEndpoint::Handler : public CivetHandler {
 public:
  explicit Handler(std::function<Response()> respond) : respond_(std::move(respond)) {}
  bool handleGet(CivetServer*, mg_connection* conn) override {
    try {
      Send(conn, respond_());
    } catch (const std::exception& e) {
      Send(conn, {500, "text/plain; charset=utf-8", std::string(e.what()) + "\n"});
    }
    return true;
  }

 private:
  std::function<Response()> respond_;
};

TMetricsEndpoint::TMetricsEndpoint(HealthCheck health)
    : health_(std::move(health)),
      metrics_handler_(std::make_unique<Handler>(MetricsResponse)),
      health_handler_(std::make_unique<Handler>([this] { return HealthResponse(health_); })) {}

TMetricsEndpoint::~TMetricsEndpoint() {
  Stop();
}

void TMetricsEndpoint::Start(const std::string& address, int port) {
  Stop();
  const bool v6 = address.find(':') != std::string::npos;
  const std::string where =
      v6 ? fmt::format("[{}]:{}", address, port) : fmt::format("{}:{}", address, port);
  // Two threads: a scrape and a health check at once. No document root: nothing but the two
  // paths is served.
  const std::vector<std::string> options = {
      "listening_ports",    where,   "num_threads",       "2",
      "request_timeout_ms", "10000", "enable_keep_alive", "no"};
  try {
    server_ = std::make_unique<CivetServer>(options);
  } catch (const std::exception& e) {
    throw EVelmoraError(
        fmt::format("The metrics listener cannot listen on {}: {}", where, e.what()));
  }
  server_->addHandler("/metrics", metrics_handler_.get());
  server_->addHandler("/health", health_handler_.get());
}

void TMetricsEndpoint::Stop() {
  server_.reset();
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      out += fmt::format("\\u{:04x}", c);
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

}  // namespace velmora
