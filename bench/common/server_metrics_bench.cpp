// What counting costs one call of the one-row workload, counter by counter as the server counts
// it: the frame's bytes in and out, the method's call and failure counters and its duration
// histogram (two clock reads), and the hand-out and give-back of a database connection and a
// query (two gauges each way). With several threads every one of them counts into the same
// counters, as the server's connection threads do.
#include <benchmark/benchmark.h>

#include <chrono>

#include "common/server_metrics.h"

namespace velmora {
namespace {

void CountOneCall(benchmark::State& state) {
  metrics::ServerMetrics& m = metrics::Metrics();
  const size_t slot = m.RegisterMethod("SQL2OleVariant");
  metrics::PoolMetrics& connections = m.Pool(metrics::PoolKind::kConnections);
  metrics::PoolMetrics& queries = m.Pool(metrics::PoolKind::kQueries);
  for (auto _ : state) {
    const auto started = std::chrono::steady_clock::now();
    m.bytes_received.Add(120);
    for (metrics::PoolMetrics* p : {&connections, &queries}) {
      p->idle.Sub();
      p->in_use.Add();
    }
    for (metrics::PoolMetrics* p : {&queries, &connections}) {
      p->in_use.Sub();
      p->idle.Add();
    }
    metrics::MethodMetrics& method = m.Method(slot);
    method.calls.Add();
    method.duration.Observe(std::chrono::steady_clock::now() - started);
    m.bytes_sent.Add(400);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CountOneCall)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
