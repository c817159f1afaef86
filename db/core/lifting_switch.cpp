#include "db/core/lifting_switch.h"

#include <atomic>

namespace velmora {
namespace {

std::atomic<bool> lifting_on{true};

}  // namespace

void SetLiteralLifting(bool on) {
  lifting_on.store(on, std::memory_order_relaxed);
}

bool LiteralLiftingOn() {
  return lifting_on.load(std::memory_order_relaxed);
}

}  // namespace velmora
