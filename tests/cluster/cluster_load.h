// ClusterLoad: writers and readers calling a Velmora cluster through its front address while the
// cluster loses a server or its database primary, with every call's outcome kept for checking.
//
// Each writer inserts rows with ids no other call uses (writer * kIdsPerWriter + sequence) and
// files every id under one outcome:
// - Acknowledged: ExecSQL returned with an empty ErrMsg. The row must be in the table afterwards.
// - Failed: the call cannot have run. Either the client library gave up before sending it
//   (EDSConnectionError that is not EDSOutcomeUnknown), or the server answered that it could not
//   open a database connection for it (libpq's "connection to server at ..." text: the statement
//   never reached an engine). The row must NOT be in the table.
// - Unknown: anything else that is not a success: the reply was lost (EDSOutcomeUnknown), or the
//   statement failed on a database connection that broke under it (a commit the primary had
//   made may or may not have reached the standby). The row may be there or not.
// Readers read one row by key, marked read-only so the library may resend it after a lost reply.
//
// Every call's end time and success is kept per worker, so that the time without service around
// an event can be measured afterwards: a worker is without service from its last success before
// a failure until its next success.
//
// Thread rules: Start, Reconnect, Stop and the results are for one controlling thread; each
// worker has its own thread and client. The results may be read only after Stop.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/server_address.h"

namespace velmora::test {

using LoadClock = std::chrono::steady_clock;

inline constexpr int64_t kIdsPerWriter = 100000000;

enum class WriteOutcome { Acknowledged, Failed, Unknown };

struct LoadSettings {
  std::vector<TServerAddress> servers;
  std::string user;
  std::string password;
  int writers = 4;
  int readers = 2;
  std::string table;     // (id bigint primary key, writer int)
  int read_rows = 1000;  // readers read BIG_TABLE ids 1..read_rows
};

// One call as a worker saw it.
struct CallMark {
  LoadClock::time_point end;
  bool ok = false;
};

struct WorkerLog {
  bool writer = false;
  std::vector<CallMark> calls;
  std::map<std::string, int> errors;  // each distinct failure text, with its count
};

class ClusterLoad {
 public:
  explicit ClusterLoad(LoadSettings settings);
  ~ClusterLoad();
  ClusterLoad(const ClusterLoad&) = delete;
  ClusterLoad& operator=(const ClusterLoad&) = delete;

  void Start();
  // Each worker in turn closes its connection between two calls and connects afresh, so that a
  // front that balances new connections by their count spreads them again (nothing is in flight
  // when it closes). Returns once every worker has done so, or after `limit`.
  void Reconnect(std::chrono::milliseconds limit);
  void Stop();

  // Ids by outcome, after Stop.
  std::vector<int64_t> Ids(WriteOutcome outcome) const;
  const std::vector<WorkerLog>& Logs() const { return logs_; }
  // Successful calls so far (any thread, while running).
  int64_t Successes() const { return successes_.load(); }

 private:
  void RunWorker(int index);

  LoadSettings settings_;
  std::atomic<bool> stop_{false};
  std::atomic<int> reconnect_worker_{-1};  // the worker asked to reconnect now, or -1
  std::atomic<int64_t> successes_{0};
  std::vector<std::thread> threads_;
  std::vector<WorkerLog> logs_;  // one per worker, written only by its thread
  mutable std::mutex ids_mu_;
  std::map<int64_t, WriteOutcome> ids_;
};

enum class Workers { Writers, Readers };

// The longest time any worker of one kind went without a successful call within [from, to]:
// from its last success before a failure to its next success. A worker that never succeeded
// again counts up to the end of its log, and `recovered` is then false.
struct ServiceGap {
  std::chrono::milliseconds longest{0};
  bool recovered = true;
  int workers_hit = 0;  // workers with at least one failed call in the window
};
ServiceGap LongestGap(const std::vector<WorkerLog>& logs, Workers kind, LoadClock::time_point from,
                      LoadClock::time_point to);

// The first successful write that ended after `at`, as the time since `at`; -1 ms when none.
std::chrono::milliseconds FirstWriteAfter(const std::vector<WorkerLog>& logs,
                                          LoadClock::time_point at);

}  // namespace velmora::test
