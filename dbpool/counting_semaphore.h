// A counting semaphore with a ceiling: a release at the maximum count is ignored, so a permit
// returned twice cannot raise the count above the capacity it was created with.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velmora {

class CountingSemaphore {
 public:
  // Negative arguments count as 0; an initial count above the maximum is cut to it.
  CountingSemaphore(int initial, int maximum);
  CountingSemaphore(const CountingSemaphore&) = delete;
  CountingSemaphore& operator=(const CountingSemaphore&) = delete;

  // Takes one permit, waiting at most `timeout` for one. False when the wait timed out.
  bool try_acquire_for(std::chrono::milliseconds timeout);
  // Gives one permit back; no effect when the count is already at the maximum.
  void release();
  int count() const;
  int maximum() const { return max_; }

 private:
  mutable std::mutex mutex_;
  std::condition_variable available_;
  int count_;
  const int max_;
};

}  // namespace velmora
