// The network side of a workload: N clients, each with its own connection and thread, calling
// the server module's method by name.
#pragma once

#include <cstdint>
#include <string>

#include "tools/bench/timed_run.h"
#include "tools/bench/workload.h"

namespace velmora::bench {

struct ServerAddress {
  std::string host;
  uint16_t port = 0;
  std::string user;
  std::string password;
};

// Prepares the server's database for the workload over one connection: creates the insert table
// when missing; for the large workload fetches the result once, decodes it and returns its row
// count (other workloads: 1). Raises when the server refuses.
int64_t PrepareWorkload(const ServerAddress& server, Workload w);

RunResult RunNetwork(const ServerAddress& server, Workload w, int clients, double seconds,
                     int64_t large_rows);

}  // namespace velmora::bench
