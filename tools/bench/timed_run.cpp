#include "tools/bench/timed_run.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <exception>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct ThreadTally {
  int64_t calls = 0;
  int64_t errors = 0;
  std::string first_error;
  int64_t rows = 0;
  int64_t bytes = 0;
  std::vector<uint32_t> latencies_us;
  Clock::time_point finished;
  double cpu_s = 0;
};

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Seconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

double Percentile(std::vector<uint32_t>& sorted, double p) {
  if (sorted.empty()) return 0;
  const size_t rank = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(rank, sorted.size() - 1)];
}

void NoteError(ThreadTally& t, const std::string& what) {
  ++t.errors;
  if (t.first_error.empty()) t.first_error = what;
}

}  // namespace

RunResult RunTimed(int threads, double seconds, const CallerFactory& make_caller) {
  std::vector<ThreadTally> tallies(static_cast<size_t>(threads));
  std::latch ready(threads);
  std::latch go(1);
  std::atomic<Clock::rep> deadline{0};
  std::vector<std::thread> pool;
  pool.reserve(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i) {
    pool.emplace_back([&, i] {
      ThreadTally& t = tallies[static_cast<size_t>(i)];
      std::unique_ptr<Caller> caller;
      try {
        caller = make_caller(i);
      } catch (const std::exception& e) {
        NoteError(t, e.what());
      }
      ready.count_down();
      go.wait();
      const Clock::time_point end{Clock::duration{deadline.load()}};
      const double cpu_start = ThreadCpuSeconds();
      t.latencies_us.reserve(4096);
      for (int64_t seq = 0; caller && Clock::now() < end; ++seq) {
        const auto started = Clock::now();
        try {
          const CallOutcome o = caller->Call(seq);
          const auto took =
              std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
          ++t.calls;
          t.rows += o.rows;
          t.bytes += o.bytes;
          t.latencies_us.push_back(
              static_cast<uint32_t>(std::min<int64_t>(took.count(), UINT32_MAX)));
        } catch (const std::exception& e) {
          NoteError(t, e.what());
        }
      }
      t.finished = Clock::now();
      t.cpu_s = ThreadCpuSeconds() - cpu_start;
      caller.reset();  // disconnecting is not timed
    });
  }
  ready.wait();
  rusage usage_start{};
  getrusage(RUSAGE_SELF, &usage_start);
  const auto start = Clock::now();
  deadline.store(
      (start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)))
          .time_since_epoch()
          .count());
  go.count_down();
  for (std::thread& th : pool) th.join();
  rusage usage_end{};
  getrusage(RUSAGE_SELF, &usage_end);

  RunResult r;
  r.threads = threads;
  r.process_user_s = Seconds(usage_end.ru_utime) - Seconds(usage_start.ru_utime);
  r.process_sys_s = Seconds(usage_end.ru_stime) - Seconds(usage_start.ru_stime);
  Clock::time_point last = start;
  std::vector<uint32_t> all;
  for (ThreadTally& t : tallies) {
    r.calls += t.calls;
    r.errors += t.errors;
    if (r.first_error.empty()) r.first_error = t.first_error;
    r.rows += t.rows;
    r.bytes += t.bytes;
    r.callers_cpu_s += t.cpu_s;
    last = std::max(last, t.finished);
    all.insert(all.end(), t.latencies_us.begin(), t.latencies_us.end());
  }
  r.seconds = std::chrono::duration<double>(last - start).count();
  std::sort(all.begin(), all.end());
  r.p50_us = Percentile(all, 0.50);
  r.p99_us = Percentile(all, 0.99);
  return r;
}

}  // namespace velmora::bench
