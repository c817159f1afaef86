#include "dbpool/counting_semaphore.h"

#include <algorithm>

namespace velmora {

CountingSemaphore::CountingSemaphore(int initial, int maximum)
    : count_(std::clamp(initial, 0, std::max(maximum, 0))), max_(std::max(maximum, 0)) {}

bool CountingSemaphore::try_acquire_for(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  if (!available_.wait_until(lock, deadline, [this] { return count_ > 0; })) return false;
  --count_;
  return true;
}

void CountingSemaphore::release() {
  {
    std::lock_guard lock(mutex_);
    if (count_ >= max_) return;
    ++count_;
  }
  available_.notify_one();
}

int CountingSemaphore::count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

}  // namespace velmora
