// The server's metrics as Prometheus text (exposition format 0.0.4): the counters of
// common/server_metrics.h, the memory budget, the build and the usual process_* metrics of this
// process, written through prometheus-cpp's serializer.
//
// Names follow Prometheus' conventions: a "velmora_" prefix, base units in the name (seconds,
// bytes), "_total" on counters. Labels: `reason` on refused connections, `method` on calls,
// `pool` on the pools.
//
// Thread rules: any thread; reading takes no lock the counting threads take.
#pragma once

#include <cstdint>
#include <string>

#include "common/server_metrics.h"

namespace velmora {

// What this process uses, as read from /proc/self; fields it could not read stay negative and
// their metric is left out.
struct ProcessSample {
  double cpu_seconds = -1;
  double resident_memory_bytes = -1;
  double virtual_memory_bytes = -1;
  double start_time_seconds = -1;  // since the Unix epoch
  double open_fds = -1;
  double max_fds = -1;
};
ProcessSample SampleProcess();

struct MemoryBudgetSample {
  uint64_t in_use_bytes = 0;
  uint64_t total_bytes = 0;
};

std::string MetricsText(const metrics::ServerMetrics& counted, const MemoryBudgetSample& budget,
                        const ProcessSample& process);

}  // namespace velmora
