// Lock/Unlock of a warm connection pool: every connection the threads need is already open, so
// this measures the pool's own cost (permit, list lock, scan) and its contention.
#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/app_path.h"
#include "dbpool/uFDConnPool.h"
#include "tools/self_host/database_config.h"
#include "tools/self_host/scratch_folder.h"

namespace velmora {
namespace {

constexpr int kMaxThreads = 8;

class WarmPool {
 public:
  WarmPool() {
    SetAppPath(folder_.Path());
    self_host::WriteSqliteConfig(folder_.Path(), folder_.File("bench.db"),
                                 self_host::NewDatabase::kCreate);
    pool_ = std::make_unique<TFDConnectionPool>(30);
    std::vector<TFDConnection*> held;
    for (int i = 0; i < kMaxThreads; ++i) held.push_back(pool_->Lock());
    for (TFDConnection* c : held) {
      if (c == nullptr) throw std::runtime_error("cannot open the benchmark database");
      pool_->Unlock(c);
    }
  }

  TFDConnectionPool& pool() { return *pool_; }

 private:
  self_host::ScratchFolder folder_;  // outlives the pool's connections to the database in it
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
