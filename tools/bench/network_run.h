// The network side of a workload: N clients, each with its own connection and thread, calling
// the server module's method by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/velmora_client.h"
#include "tools/bench/timed_run.h"
#include "tools/bench/workload.h"

namespace velmora::bench {

// Where the clients connect and how they come back after a drop: each client connects to the
// first address that admits it (or one at random), and reconnects for its next call.
struct ServerAddress {
  std::vector<TServerAddress> servers;
  std::string user;
  std::string password;
  TReconnectRules rules;  // RetryReads also resends the read workloads' lost queries
};

// Prepares the server's database for the workload over one connection: creates the insert table
// when missing; for the large workload fetches the result once, decodes it and returns its row
// count (other workloads: 1). Raises when the server refuses.
int64_t PrepareWorkload(const ServerAddress& server, Workload w);

RunResult RunNetwork(const ServerAddress& server, Workload w, int clients, double seconds,
                     int64_t large_rows);

}  // namespace velmora::bench
