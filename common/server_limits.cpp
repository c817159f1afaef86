#include "common/server_limits.h"

#include "common/memory_budget.h"

namespace velmora {

namespace {
ServerLimits& Current() {
  static ServerLimits limits;
  return limits;
}
}  // namespace

const ServerLimits& Limits() {
  return Current();
}

void SetServerLimits(const ServerLimits& limits) {
  Current() = limits;
  MemoryBudget::Process().SetTotal(limits.MemoryBudget);
}

}  // namespace velmora
