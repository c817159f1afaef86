#include "dbpool/uFDStoredProcPool.h"

#include <memory>

namespace velmora {

TFDStoredProcPool::TFDStoredProcPool(int ACapicity, int timeout_ms)
    : FPool(
          ACapicity, [] { return std::make_unique<TFDStoredProc>(); },
          [](TFDStoredProc& proc) { proc.Close(); }, timeout_ms) {}

}  // namespace velmora
