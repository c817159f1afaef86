// The in-process baseline of a workload: the work of the server's method done directly on the
// process-wide database pools, with the same number of threads and no network.
#pragma once

#include <cstdint>

#include "tools/bench/timed_run.h"
#include "tools/bench/workload.h"

namespace velmora::bench {

// Needs the database pools (CreateDatabasePools) and AppPath() holding DataBase.CFG.
RunResult RunBaseline(Workload w, int threads, double seconds, int64_t large_rows);

}  // namespace velmora::bench
