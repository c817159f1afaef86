// The command line of velmora-bench.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/service_defaults.h"
#include "tools/bench/workload.h"

namespace velmora::bench {

struct BenchOptions {
  std::string host;                     // "host[:port],...": empty: start a server in this process
  uint16_t port = kDefaultServicePort;  // for the hosts given without a port
  bool random_order = false;            // each client picks its server at random
  bool retry_reads = false;             // resend the read workloads' lost queries
  std::string user = "bench";
  std::string password = "bench";
  int clients = 8;
  double seconds = 3;
  std::vector<Workload> workloads;  // empty: all
  bool json = false;

  bool SelfHosted() const { return host.empty(); }
};

}  // namespace velmora::bench
