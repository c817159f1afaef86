#include "dbpool/uFDStoredProcPool.h"

#include <memory>

#include "common/server_metrics.h"

namespace velmora {

TFDStoredProcPool::TFDStoredProcPool(int ACapicity, int timeout_ms)
    : FPool(
          ACapicity, [] { return std::make_unique<TFDStoredProc>(); },
          [](TFDStoredProc& proc) { proc.Close(); }, timeout_ms) {
  FPool.SetMetrics(&metrics::Metrics().Pool(metrics::PoolKind::kStoredProcs));
}

}  // namespace velmora
