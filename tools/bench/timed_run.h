// Runs N threads that each repeat one call for a fixed time, and sums what they did.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velmora::bench {

// What one call did. A call that raises counts as an error.
struct CallOutcome {
  int64_t rows = 0;
  int64_t bytes = 0;  // bytes of the data packet the call produced
};

// One thread's caller: made on its thread before the clock starts (so connecting is not timed),
// then called again and again. `seq` counts the thread's calls from 0.
class Caller {
 public:
  virtual ~Caller() = default;
  virtual CallOutcome Call(int64_t seq) = 0;
};
using CallerFactory = std::function<std::unique_ptr<Caller>(int thread_index)>;

struct RunResult {
  int threads = 0;
  double seconds = 0;  // from the start signal until the last thread finished its last call
  int64_t calls = 0;   // successful calls
  int64_t errors = 0;  // calls (or callers) that raised
  std::string first_error;
  int64_t rows = 0;
  int64_t bytes = 0;
  double p50_us = 0;  // latency of successful calls
  double p99_us = 0;
  // CPU time used while the run lasted: by the whole process (user and kernel), and by the
  // calling threads alone (for the network side: the clients; the rest is the server's).
  double process_user_s = 0;
  double process_sys_s = 0;
  double callers_cpu_s = 0;

  double CallsPerSecond() const { return seconds > 0 ? static_cast<double>(calls) / seconds : 0; }
  double RowsPerSecond() const { return seconds > 0 ? static_cast<double>(rows) / seconds : 0; }
  double MegabytesPerSecond() const {
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
  }
  // Microseconds of CPU per successful call.
  double PerCallUs(double cpu_s) const {
    return calls > 0 ? cpu_s * 1e6 / static_cast<double>(calls) : 0;
  }
};

// Starts `threads` threads, each making its caller; once all are ready, every thread calls
// until `seconds` have passed (a call under way then is finished and counted).
RunResult RunTimed(int threads, double seconds, const CallerFactory& make_caller);

}  // namespace velmora::bench
