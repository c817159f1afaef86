// TDatabaseProbe: whether a connection to the configured database (DataBase.CFG below AppPath())
// opens within a time limit, for the health endpoint. Each probe opens a fresh connection and
// closes it, so it neither takes an object the calls need from the pool nor trusts an open one.
// It never creates the database, whatever DataBase.CFG's CreateDatabase says.
//
// Thread rules: Probe may be called from any thread, at once from several. At most one
// connection is being opened at a time: a probe that finds one under way waits for its result.
// A connection that has not opened when the limit passes goes on opening on its own thread; the
// destructor waits for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace velmora {

class TDatabaseProbe {
 public:
  TDatabaseProbe() = default;
  ~TDatabaseProbe();
  TDatabaseProbe(const TDatabaseProbe&) = delete;
  TDatabaseProbe& operator=(const TDatabaseProbe&) = delete;

  // Empty when a connection opened within `limit`; else why not, for the operator.
  std::string Probe(std::chrono::milliseconds limit);

 private:
  std::mutex mu_;
  std::condition_variable done_;
  bool running_ = false;
  uint64_t finished_ = 0;  // probes finished so far
  std::string result_;     // of the last finished probe
  std::thread thread_;
};

}  // namespace velmora
