// TLoginThrottle: slows password guessing from one address. It counts the refused logins of each
// client address; once an address has had `refusals_per_minute` refusals within a minute, each
// further login try from it is answered only after a delay, the first `first_delay` long and
// doubling with each further refusal up to `max_delay`.
//
// Rules:
// - Only refusals count; an accepted login neither counts nor clears what was counted.
// - An address is forgotten (no delay, nothing counted) once a minute plus its current delay
//   has passed since its last refusal.
// - Memory stays bounded: addresses that are forgotten are dropped as new ones arrive.
//
// Thread contract: every member is safe to call from any thread; none waits.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

namespace velmora {

class TLoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  TLoginThrottle(int refusals_per_minute, std::chrono::seconds first_delay,
                 std::chrono::seconds max_delay);

  // How long a login try from `address` waits before it is answered.
  std::chrono::seconds Delay(const std::string& address, Clock::time_point now = Clock::now());
  // Counts a refused login from `address`.
  void Refused(const std::string& address, Clock::time_point now = Clock::now());
  // Addresses remembered (for tests of the bound).
  size_t Size() const;

 private:
  struct Record {
    std::deque<Clock::time_point> recent;  // refusals of the last minute, at most the threshold
    Clock::time_point last{};
    std::chrono::seconds delay{0};
  };
  bool Forgotten(const Record& r, Clock::time_point now) const;
  void Sweep(Clock::time_point now);

  const size_t threshold_;
  const std::chrono::seconds first_delay_;
  const std::chrono::seconds max_delay_;
  mutable std::mutex mu_;
  std::unordered_map<std::string, Record> records_;
  size_t sweep_at_ = 1024;
};

}  // namespace velmora
