// The command line of velmora-bench.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/service_defaults.h"
#include "tools/bench/workload.h"

namespace velmora::bench {

struct BenchOptions {
  std::string host;  // empty: start a server in this process
  uint16_t port = kDefaultServicePort;
  std::string user = "bench";
  std::string password = "bench";
  int clients = 8;
  double seconds = 3;
  std::vector<Workload> workloads;  // empty: all
  bool json = false;

  bool SelfHosted() const { return host.empty(); }
};

}  // namespace velmora::bench
