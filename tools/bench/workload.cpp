#include "tools/bench/workload.h"

#include <fmt/format.h>

namespace velmora::bench {

std::string_view WorkloadName(Workload w) {
  switch (w) {
    case Workload::Small:
      return "small";
    case Workload::Large:
      return "large";
    case Workload::Insert:
      return "insert";
    case Workload::Connect:
      return "connect";
  }
  return "?";
}

std::optional<Workload> ParseWorkload(std::string_view name) {
  for (Workload w : AllWorkloads()) {
    if (WorkloadName(w) == name) return w;
  }
  return std::nullopt;
}

std::vector<Workload> AllWorkloads() {
  return {Workload::Small, Workload::Large, Workload::Insert, Workload::Connect};
}

std::string CreateInsertTableSql() {
  return fmt::format(
      "CREATE TABLE IF NOT EXISTS {} (ID INTEGER PRIMARY KEY, CLIENT INTEGER, SEQ INTEGER, "
      "NOTE VARCHAR(40))",
      kInsertTable);
}

std::string CallSql(Workload w, std::mt19937_64& rng, int client, int64_t seq) {
  switch (w) {
    case Workload::Small: {
      std::uniform_int_distribution<int> id(1, kBigTableRows);
      return fmt::format("SELECT * FROM BIG_TABLE WHERE ID = {}", id(rng));
    }
    case Workload::Large:
      return "SELECT * FROM BIG_TABLE";
    case Workload::Insert:
      return fmt::format("INSERT INTO {} (CLIENT, SEQ, NOTE) VALUES ({}, {}, 'bench row')",
                         kInsertTable, client, seq);
    case Workload::Connect:
      return {};  // no SQL: the call is GetServerDateTime
  }
  return {};
}

int64_t RowsPerCall(Workload w, int64_t large_rows) {
  if (w == Workload::Connect) return 0;
  return w == Workload::Large ? large_rows : 1;
}

}  // namespace velmora::bench
