#include "rpc/login_throttle.h"

#include <algorithm>

namespace velmora {
namespace {
constexpr std::chrono::minutes kWindow{1};
}  // namespace

TLoginThrottle::TLoginThrottle(int refusals_per_minute, std::chrono::seconds first_delay,
                               std::chrono::seconds max_delay)
    : threshold_(static_cast<size_t>(std::max(refusals_per_minute, 1))),
      first_delay_(std::max(first_delay, std::chrono::seconds(0))),
      max_delay_(std::max(max_delay, first_delay_)) {}

bool TLoginThrottle::Forgotten(const Record& r, Clock::time_point now) const {
  return now - r.last > kWindow + r.delay;
}

std::chrono::seconds TLoginThrottle::Delay(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mu_);
  const auto it = records_.find(address);
  if (it == records_.end() || Forgotten(it->second, now)) return std::chrono::seconds(0);
  return it->second.delay;
}

void TLoginThrottle::Refused(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mu_);
  if (records_.size() >= sweep_at_) Sweep(now);
  Record& r = records_[address];
  if (Forgotten(r, now)) r = Record();
  while (!r.recent.empty() && now - r.recent.front() > kWindow) r.recent.pop_front();
  r.recent.push_back(now);
  if (r.recent.size() > threshold_) r.recent.pop_front();
  r.last = now;
  if (r.delay.count() > 0) {
    r.delay = std::min(r.delay * 2, max_delay_);
  } else if (r.recent.size() >= threshold_) {
    r.delay = first_delay_;
  }
}

void TLoginThrottle::Sweep(Clock::time_point now) {
  std::erase_if(records_, [&](const auto& entry) { return Forgotten(entry.second, now); });
  // Every remembered address is still active: allow twice as many before the next sweep.
  sweep_at_ = std::max<size_t>(1024, records_.size() * 2);
}

size_t TLoginThrottle::Size() const {
  std::lock_guard lock(mu_);
  return records_.size();
}

}  // namespace velmora
