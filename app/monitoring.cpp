#include "app/monitoring.h"

#include <QString>
#include <chrono>

#include "app/config/metrics_config.h"
#include "app/database_probe.h"
#include "app/metrics_endpoint.h"
#include "app/service_controller.h"

namespace velmora {

TMonitoring::TMonitoring(TServiceController& service) : service_(service) {}

// The listener goes first: its threads may be probing the database.
TMonitoring::~TMonitoring() {
  endpoint_.reset();
  probe_.reset();
}

void TMonitoring::Start(const std::string& config_path) {
  const MetricsConfig config = LoadMetricsConfig(config_path);
  for (const std::string& note : config.notes) service_.AddLog(QString::fromStdString(note));
  if (!config.Enabled()) return;
  if (!probe_) probe_ = std::make_unique<TDatabaseProbe>();
  endpoint_ = std::make_unique<TMetricsEndpoint>([this]() -> std::string {
    if (!service_.Started()) return "the service is stopped";
    return probe_->Probe(std::chrono::seconds(1));
  });
  endpoint_->Start(config.address, config.port);
  service_.AddLog(QStringLiteral("Metrics and health: http://%1:%2/metrics and /health")
                      .arg(QString::fromStdString(config.address))
                      .arg(config.port));
}

}  // namespace velmora
