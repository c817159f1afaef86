#include "common/server_limits.h"

#include <fmt/format.h>

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

std::string LimitSizeText(uint64_t bytes) {
  return bytes % kMiB == 0 ? fmt::format("{} MiB", bytes / kMiB) : fmt::format("{} bytes", bytes);
}

void SetServerLimits(const ServerLimits& limits) {
  Current() = limits;
  MemoryBudget::Process().SetTotal(limits.MemoryBudget);
}

}  // namespace velmora
