#include "app/metrics_endpoint.h"

#include <fmt/format.h>

#include <exception>
#include <string_view>
#include <utility>

#include "app/metrics_endpoint_http.h"
#include "app/metrics_text.h"
#include "common/memory_budget.h"
#include "common/server_metrics.h"
#include "common/velmora_error.h"

namespace velmora {

namespace {

HttpResponse MetricsResponse() {
  MemoryBudget& budget = MemoryBudget::Process();
  return {200, "text/plain; version=0.0.4; charset=utf-8",
          MetricsText(metrics::Metrics(), {budget.InUse(), budget.Total()}, SampleProcess())};
}

HttpResponse HealthResponse(const TMetricsEndpoint::HealthCheck& health) {
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

// Exact paths only: a path that merely starts with one of them (/healthz, /health/x) or spells it
// otherwise (//metrics) is not it.
HttpResponse TMetricsEndpoint::Respond(std::string_view path) const {
  if (path == "/metrics") return MetricsResponse();
  if (path == "/health") return HealthResponse(health_);
  return {404, "text/plain; charset=utf-8", "Not Found\n"};
}

TMetricsEndpoint::TMetricsEndpoint(HealthCheck health) : health_(std::move(health)) {}

TMetricsEndpoint::~TMetricsEndpoint() {
  Stop();
}

void TMetricsEndpoint::Start(const std::string& address, int port) {
  Stop();
  const bool v6 = address.find(':') != std::string::npos;
  const std::string where =
      v6 ? fmt::format("[{}]:{}", address, port) : fmt::format("{}:{}", address, port);
  try {
    listener_ = std::make_unique<TMetricsHttpListener>(
        address, port, [this](std::string_view path) { return Respond(path); });
  } catch (const std::exception& e) {
    throw EVelmoraError(
        fmt::format("The metrics listener cannot listen on {}: {}", where, e.what()));
  }
}

void TMetricsEndpoint::Stop() {
  listener_.reset();
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
