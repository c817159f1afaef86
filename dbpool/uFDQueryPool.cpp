#include "dbpool/uFDQueryPool.h"

#include <memory>

#include "common/server_metrics.h"

namespace velmora {

TFDQueryPool::TFDQueryPool(int ACapicity, int timeout_ms)
    : FPool(
          ACapicity, [] { return std::make_unique<TFDQuery>(); },
          [](TFDQuery& query) { query.Close(); }, timeout_ms) {
  FPool.SetMetrics(&metrics::Metrics().Pool(metrics::PoolKind::kQueries));
}

}  // namespace velmora
