#include "dbpool/uFDQueryPool.h"

#include <memory>

namespace velmora {

TFDQueryPool::TFDQueryPool(int ACapicity, int timeout_ms)
    : FPool(
          ACapicity, [] { return std::make_unique<TFDQuery>(); },
          [](TFDQuery& query) { query.Close(); }, timeout_ms) {}

}  // namespace velmora
