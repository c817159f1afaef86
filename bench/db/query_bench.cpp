// "Open query, save to stream" through the data-access layer against a plain sqlite3 loop that
// steps the same rows and reads every value (touching every text and blob byte). Prints the
// ratio of the two times at the end.
#include <benchmark/benchmark.h>
#include <fmt/core.h>
#include <sqlite3.h>

#include <map>
#include <memory>

#include "db/core/connection.h"
#include "db/core/query.h"
#include "tools/self_host/fixture_db.h"
#include "tools/self_host/scratch_folder.h"

namespace {

constexpr int kRows = 100000;
constexpr const char* kSql = "SELECT * FROM BIG_TABLE";

const std::string& FixturePath() {
  static velmora::self_host::ScratchFolder dir;
  static const std::string path = [] {
    std::string p = dir.File("bench.db");
    velmora::self_host::CreateFixtureDatabase(p, kRows);
    return p;
  }();
  return path;
}

// One session on the fixture database and a query on it, as a pooled query of the server has.
struct FixtureSession {
  FixtureSession() {
    connection.SetConnectionString("DriverID=SQLite;Database=" + FixturePath());
    connection.Open();
    query.SetConnection(&connection);
  }
  velmora::TFDConnection connection;
  velmora::TFDQuery query;
};

void BM_LayerOpenSaveToStream(benchmark::State& state) {
  FixtureSession session;
  velmora::TFDQuery& query = session.query;
  size_t bytes = 0;
  for (auto _ : state) {
    query.Close();
    query.SQL().SetText(kSql);
    query.Open();
    velmora::TMemoryStream stream;
    query.SaveToStream(stream, velmora::sfAuto);
    bytes = stream.Size();
    benchmark::DoNotOptimize(stream.Data());
  }
  if (query.RecordCount() != kRows) state.SkipWithError("wrong row count");
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["stream_bytes"] = static_cast<double>(bytes);
}

void BM_PlainSqliteLoop(benchmark::State& state) {
  sqlite3* raw = nullptr;
  sqlite3_open_v2(FixturePath().c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)> db(raw, sqlite3_close_v2);
  int64_t rows = 0;
  for (auto _ : state) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db.get(), kSql, -1, &stmt, nullptr);
    const int columns = sqlite3_column_count(stmt);
    uint64_t sum = 0;
    rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      ++rows;
      for (int i = 0; i < columns; ++i) {
        switch (sqlite3_column_type(stmt, i)) {
          case SQLITE_INTEGER:
            sum += static_cast<uint64_t>(sqlite3_column_int64(stmt, i));
            break;
          case SQLITE_FLOAT:
            sum += static_cast<uint64_t>(sqlite3_column_double(stmt, i));
            break;
          case SQLITE_TEXT:
          case SQLITE_BLOB: {
            const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, i));
            const int n = sqlite3_column_bytes(stmt, i);
            for (int k = 0; k < n; ++k) sum += p[k];
            break;
          }
          default:
            break;
        }
      }
    }
    sqlite3_finalize(stmt);
    benchmark::DoNotOptimize(sum);
  }
  if (rows != kRows) state.SkipWithError("wrong row count");
  state.SetItemsProcessed(state.iterations() * kRows);
}

// The one-row call of the server's small workload: one pooled query on one session, opened with a
// text whose key differs from call to call.
void BM_LayerOneRowQuery(benchmark::State& state) {
  FixtureSession session;
  velmora::TFDQuery& query = session.query;
  int id = 0;
  for (auto _ : state) {
    query.Close();
    query.SQL().SetText(fmt::format("SELECT * FROM BIG_TABLE WHERE ID = {}", id % kRows + 1));
    query.Open();
    if (query.RecordCount() != 1) state.SkipWithError("wrong row count");
    id += 7919;  // a prime step: the keys wander over the whole table
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_LayerOneRowQuery)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LayerOpenSaveToStream)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainSqliteLoop)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Remembers the time per iteration of each benchmark to print their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      times_[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto layer = times_.find("BM_LayerOpenSaveToStream/min_time:2.000");
    const auto plain = times_.find("BM_PlainSqliteLoop/min_time:2.000");
    if (layer != times_.end() && plain != times_.end() && plain->second.first > 0) {
      const auto [layer_real, layer_cpu] = layer->second;
      const auto [plain_real, plain_cpu] = plain->second;
      fmt::print(
          "layer / plain sqlite3 loop: {:.2f}x wall ({:.0f} vs {:.0f} rows/s), {:.2f}x CPU\n",
          layer_real / plain_real, kRows / (layer_real / 1e3), kRows / (plain_real / 1e3),
          layer_cpu / plain_cpu);
    }
  }

 private:
  std::map<std::string, std::pair<double, double>> times_;  // real, CPU (ms)
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
