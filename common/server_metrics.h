// ServerMetrics: the server's own counters, counted where the events happen (transport, sessions,
// pools, memory budget, statement stop, backup) and read by whoever exposes them (the shell's
// HTTP endpoint). It depends on nothing, so that every layer may count.
//
// Thread contract: every member may be used from any thread. Counting is a relaxed atomic add:
// no lock, no allocation. A method's slot is registered once, under a lock, when its method
// table is built; the hot path only indexes the slot it was given. A reader sees each value on
// its own; values read one after another may be a few events apart.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace velmora::metrics {

class Counter {
 public:
  void Add(uint64_t n = 1) noexcept { value_.fetch_add(n, std::memory_order_relaxed); }
  uint64_t Value() const noexcept { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> value_{0};
};

class Gauge {
 public:
  void Add(int64_t n = 1) noexcept { value_.fetch_add(n, std::memory_order_relaxed); }
  void Sub(int64_t n = 1) noexcept { value_.fetch_sub(n, std::memory_order_relaxed); }
  void Set(int64_t n) noexcept { value_.store(n, std::memory_order_relaxed); }
  int64_t Value() const noexcept { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int64_t> value_{0};
};

// Upper bounds, in seconds, of the call-duration buckets; the last bucket (+Inf) is implicit.
inline constexpr std::array<double, 14> kCallDurationBucketsSeconds = {
    0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

// A histogram of durations over kCallDurationBucketsSeconds. Each observation lands in exactly
// one bucket (the first whose bound it does not exceed); Read makes them cumulative.
class DurationHistogram {
 public:
  static constexpr size_t kBounds = kCallDurationBucketsSeconds.size();

  void Observe(std::chrono::nanoseconds duration) noexcept;

  struct Snapshot {
    std::array<uint64_t, kBounds> cumulative{};  // observations <= each bound
    uint64_t count = 0;                          // all observations (the +Inf bucket)
    double sum_seconds = 0;
  };
  Snapshot Read() const noexcept;

 private:
  std::array<std::atomic<uint64_t>, kBounds + 1> buckets_{};  // the last one is +Inf
  std::atomic<uint64_t> sum_ns_{0};
};

struct MethodMetrics {
  Counter calls;
  Counter failures;  // raised a remote error, or answered with an error text
  DurationHistogram duration;
};

// The pools the server hands objects out of.
enum class PoolKind : size_t { kConnections, kQueries, kStoredProcs, kServerModules, kCount };
inline constexpr std::array<std::string_view, static_cast<size_t>(PoolKind::kCount)> kPoolNames = {
    "connections", "queries", "stored_procedures", "server_modules"};

struct PoolMetrics {
  Gauge in_use;
  Gauge idle;
  Counter waits;     // hand-outs that found no free permit at once and waited
  Counter timeouts;  // waits that ended at the pool's time limit
};

// Why a connection was turned away or cut before it could be served.
enum class ConnectionRefusal : size_t {
  kCap,            // the server serves its maximum of connections
  kPerAddressCap,  // too many connections from one address have not logged in
  kDeadline,       // a hello, frame, write or idle deadline passed
  kPreLoginLimit,  // a frame before login broke the size or compression limit
  kThreads,        // no thread could be started for it
  kCount
};
inline constexpr std::array<std::string_view, static_cast<size_t>(ConnectionRefusal::kCount)>
    kRefusalNames = {"cap", "per_address_cap", "deadline", "pre_login_limit", "threads"};

class ServerMetrics {
 public:
  // Method slots; methods registered beyond the last named one share the last slot, "other".
  static constexpr size_t kMaxMethods = 32;
  // A method's name is kept to this many bytes.
  static constexpr size_t kMaxMethodName = 63;

  constexpr ServerMetrics() = default;
  ServerMetrics(const ServerMetrics&) = delete;
  ServerMetrics& operator=(const ServerMetrics&) = delete;

  // The slot counting the method called `name`; the same name gets the same slot.
  size_t RegisterMethod(std::string_view name);
  MethodMetrics& Method(size_t slot) noexcept { return methods_[slot]; }
  const MethodMetrics& Method(size_t slot) const noexcept { return methods_[slot]; }
  // Registered slots are 0 .. MethodCount()-1; their names do not change once registered.
  size_t MethodCount() const noexcept { return method_count_.load(std::memory_order_acquire); }
  std::string_view MethodName(size_t slot) const noexcept {
    return std::string_view(method_names_[slot].data());
  }

  PoolMetrics& Pool(PoolKind kind) noexcept { return pools_[static_cast<size_t>(kind)]; }
  const PoolMetrics& Pool(PoolKind kind) const noexcept {
    return pools_[static_cast<size_t>(kind)];
  }
  Counter& Refused(ConnectionRefusal why) noexcept { return refused_[static_cast<size_t>(why)]; }
  const Counter& Refused(ConnectionRefusal why) const noexcept {
    return refused_[static_cast<size_t>(why)];
  }

  // Records a backup that was made, at `unix_seconds`.
  void BackupMade(int64_t unix_seconds) noexcept;

  Gauge connections_open;
  Counter connections_accepted;
  Counter logins_accepted;
  Counter logins_refused;
  Counter bytes_received;
  Counter bytes_sent;
  Counter memory_budget_refusals;
  Counter statement_timeouts;
  Counter backups_made;
  Counter backups_failed;
  Gauge last_backup_unix_seconds;  // 0 until the first backup this process made

 private:
  std::mutex register_mu_;
  // Fixed arrays rather than strings, so that the whole registry is constant-initialised.
  std::array<std::array<char, kMaxMethodName + 1>, kMaxMethods> method_names_{};
  std::atomic<size_t> method_count_{0};
  std::array<MethodMetrics, kMaxMethods> methods_{};
  std::array<PoolMetrics, static_cast<size_t>(PoolKind::kCount)> pools_{};
  std::array<Counter, static_cast<size_t>(ConnectionRefusal::kCount)> refused_{};
};

// The counters of this process.
ServerMetrics& Metrics() noexcept;

}  // namespace velmora::metrics
