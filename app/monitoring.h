// TMonitoring: the operator's monitoring of the service, as CONFIG.CFG's section Metrics asks for
// it: nothing without a Port; else the /metrics and /health listener (app/metrics_endpoint.h),
// whose health is the service started and a fresh database connection opened within a second
// (app/database_probe.h). The window and the headless program each own one and start it once,
// after the settings are read, so both serve the same endpoints.
//
// Thread rules: Start and the destructor belong to the owner's (UI or main) thread. The health
// check runs on the listener's threads; it reads only whether the service is started, which is
// safe from any thread, and the probe, which is made for it.
#pragma once

#include <memory>
#include <string>

namespace velmora {

class TServiceController;
class TMetricsEndpoint;
class TDatabaseProbe;

class TMonitoring {
 public:
  explicit TMonitoring(TServiceController& service);
  ~TMonitoring();
  TMonitoring(const TMonitoring&) = delete;
  TMonitoring& operator=(const TMonitoring&) = delete;

  // Reads the section Metrics of the settings file at `config_path`, logs its notes, and, when it
  // gives a port, starts the listener and logs where it listens. Raises EVelmoraError, naming the
  // address, when the listener cannot listen; the service is not affected.
  void Start(const std::string& config_path);

 private:
  TServiceController& service_;
  std::unique_ptr<TDatabaseProbe> probe_;
  std::unique_ptr<TMetricsEndpoint> endpoint_;
};

}  // namespace velmora
