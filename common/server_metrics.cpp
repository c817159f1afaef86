#include "common/server_metrics.h"

#include <algorithm>

namespace velmora::metrics {

namespace {

// The bounds in nanoseconds, so that an observation is placed without floating point.
constexpr std::array<int64_t, DurationHistogram::kBounds> BoundsNs() {
  std::array<int64_t, DurationHistogram::kBounds> ns{};
  for (size_t i = 0; i < ns.size(); ++i) {
    ns[i] = static_cast<int64_t>(kCallDurationBucketsSeconds[i] * 1e9 + 0.5);
  }
  return ns;
}
constexpr std::array<int64_t, DurationHistogram::kBounds> kBoundsNs = BoundsNs();

// Constant-initialised: counting from another file's static initialiser finds it ready.
constinit ServerMetrics g_metrics;

}  // namespace

void DurationHistogram::Observe(std::chrono::nanoseconds duration) noexcept {
  const int64_t ns = duration.count() < 0 ? 0 : duration.count();
  size_t bucket = 0;
  while (bucket < kBounds && ns > kBoundsNs[bucket]) ++bucket;
  buckets_[bucket].fetch_add(1, std::memory_order_relaxed);
  sum_ns_.fetch_add(static_cast<uint64_t>(ns), std::memory_order_relaxed);
}

DurationHistogram::Snapshot DurationHistogram::Read() const noexcept {
  Snapshot s;
  uint64_t running = 0;
  for (size_t i = 0; i < kBounds; ++i) {
    running += buckets_[i].load(std::memory_order_relaxed);
    s.cumulative[i] = running;
  }
  s.count = running + buckets_[kBounds].load(std::memory_order_relaxed);
  s.sum_seconds = static_cast<double>(sum_ns_.load(std::memory_order_relaxed)) / 1e9;
  return s;
}

size_t ServerMetrics::RegisterMethod(std::string_view name) {
  std::lock_guard lock(register_mu_);
  const size_t count = method_count_.load(std::memory_order_relaxed);
  const std::string_view kept = name.substr(0, kMaxMethodName);
  for (size_t i = 0; i < count; ++i) {
    if (MethodName(i) == kept) return i;
  }
  if (count == kMaxMethods) return kMaxMethods - 1;
  const std::string_view stored = count == kMaxMethods - 1 ? std::string_view("other") : kept;
  std::copy(stored.begin(), stored.end(), method_names_[count].begin());
  method_names_[count][stored.size()] = '\0';
  method_count_.store(count + 1, std::memory_order_release);
  return count;
}

void ServerMetrics::BackupMade(int64_t unix_seconds) noexcept {
  backups_made.Add();
  last_backup_unix_seconds.Set(unix_seconds);
}

ServerMetrics& Metrics() noexcept {
  return g_metrics;
}

}  // namespace velmora::metrics
