// The workloads of velmora-bench and the SQL text each call sends.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::bench {

// Small, Large and Insert each make one call on a connection kept for the run; Connect opens a
// connection, logs in, reads the server's clock and disconnects, every call.
enum class Workload { Small, Large, Insert, Connect };

// Rows of BIG_TABLE in the generated database; the large workload reads all of them.
inline constexpr int kBigTableRows = 100000;
// The table the insert workload writes to (created when missing).
inline constexpr const char* kInsertTable = "BENCH_INSERT";

std::string_view WorkloadName(Workload w);
std::optional<Workload> ParseWorkload(std::string_view name);
std::vector<Workload> AllWorkloads();

// The statement that creates the insert workload's table when it is missing.
std::string CreateInsertTableSql();

// The SQL text of one call. `rng` belongs to the calling thread; `client` and `seq` make every
// inserted row distinct.
std::string CallSql(Workload w, std::mt19937_64& rng, int client, int64_t seq);

// Rows one successful call reads or writes (the large workload: as verified before the run).
int64_t RowsPerCall(Workload w, int64_t large_rows);

}  // namespace velmora::bench
