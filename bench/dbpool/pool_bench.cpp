// Lock/Unlock of a warm connection pool: every connection the threads need is already open, so
// this measures the pool's own cost (permit, list lock, scan) and its contention.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/app_path.h"
#include "dbpool/uFDConnPool.h"

namespace velmora {
namespace {

constexpr int kMaxThreads = 8;

class WarmPool {
 public:
  WarmPool() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    SetAppPath(folder_.string());
    std::ofstream(folder_ / "DataBase.CFG", std::ios::binary)
        << "DriverID=SQLite\r\nCreateDatabase=Yes\r\nDatabase=" << (folder_ / "bench.db").string()
        << "\r\n";
    pool_ = std::make_unique<TFDConnectionPool>(30);
    std::vector<TFDConnection*> held;
    for (int i = 0; i < kMaxThreads; ++i) held.push_back(pool_->Lock());
    for (TFDConnection* c : held) {
      if (c == nullptr) throw std::runtime_error("cannot open the benchmark database");
      pool_->Unlock(c);
    }
  }
  ~WarmPool() {
    pool_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TFDConnectionPool& pool() { return *pool_; }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<TFDConnectionPool> pool_;
};

WarmPool& Warm() {
  static WarmPool warm;
  return warm;
}

void BM_LockUnlock(benchmark::State& state) {
  TFDConnectionPool& pool = Warm().pool();
  for (auto _ : state) {
    TFDConnection* c = pool.Lock();
    benchmark::DoNotOptimize(c);
    pool.Unlock(c);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LockUnlock)->Threads(1)->Threads(2)->Threads(kMaxThreads)->UseRealTime();

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  velmora::Warm();  // opened before any benchmark thread starts
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
