#include "tests/cluster/cluster_load.h"

#include <fmt/core.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string_view>

#include "client/velmora_client.h"
#include "rpc/rpc_errors.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

// After a failed call a worker waits this long, so that an outage is not a busy loop (and the
// measured times are this fine).
constexpr auto kPauseAfterFailure = 20ms;

// Quick reconnection: the load measures the cluster, not the client's patience.
TReconnectRules LoadRules() {
  TReconnectRules rules;
  rules.RetryReads = true;
  rules.FirstDelay = 20ms;
  rules.MaxDelay = 200ms;
  rules.GiveUp = 2s;
  return rules;
}

// The server could not open a database connection for the call: libpq's text for a connection
// that failed to open, which the server hands back as the call's ErrMsg before running anything.
bool NoConnectionOpened(std::string_view err) {
  return err.starts_with("connection to server at");
}

}  // namespace

ClusterLoad::ClusterLoad(LoadSettings settings) : settings_(std::move(settings)) {}

ClusterLoad::~ClusterLoad() {
  Stop();
}

void ClusterLoad::Start() {
  const int workers = settings_.writers + settings_.readers;
  logs_.assign(static_cast<size_t>(workers), WorkerLog{});
  for (int i = 0; i < workers; ++i) logs_[static_cast<size_t>(i)].writer = i < settings_.writers;
  for (int i = 0; i < workers; ++i) threads_.emplace_back([this, i] { RunWorker(i); });
}

void ClusterLoad::Reconnect(std::chrono::milliseconds limit) {
  const auto give_up = LoadClock::now() + limit;
  for (size_t i = 0; i < logs_.size(); ++i) {
    reconnect_worker_ = static_cast<int>(i);
    while (reconnect_worker_.load() != -1 && LoadClock::now() < give_up) {
      std::this_thread::sleep_for(5ms);
    }
    // The front counts the closed connection out before the next one comes.
    std::this_thread::sleep_for(50ms);
  }
  reconnect_worker_ = -1;
}

void ClusterLoad::Stop() {
  stop_ = true;
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

std::vector<int64_t> ClusterLoad::Ids(WriteOutcome outcome) const {
  std::lock_guard lock(ids_mu_);
  std::vector<int64_t> out;
  for (const auto& [id, o] : ids_) {
    if (o == outcome) out.push_back(id);
  }
  return out;
}

void ClusterLoad::RunWorker(int index) {
  WorkerLog& log = logs_[static_cast<size_t>(index)];
  const bool writer = log.writer;
  std::optional<TVelmoraClient> client;
  std::mt19937 rng(static_cast<unsigned>(index));
  std::uniform_int_distribution<int> row(1, settings_.read_rows);
  int64_t sequence = 0;
  std::string err;
  while (!stop_) {
    const bool reconnect_asked = reconnect_worker_.load() == index;
    if (reconnect_asked) client.reset();  // between calls: nothing of ours is in flight
    const int64_t id = writer ? int64_t{index} * kIdsPerWriter + sequence++ : 0;
    std::string failure;
    WriteOutcome outcome = WriteOutcome::Unknown;
    try {
      if (!client) {
        client.emplace();
        client->Connect(settings_.servers, settings_.user, settings_.password, {}, LoadRules());
      }
      if (writer) {
        client->ExecSQL(
            fmt::format("INSERT INTO {} (id, writer) VALUES ({}, {})", settings_.table, id, index),
            err);
        if (err.empty()) {
          outcome = WriteOutcome::Acknowledged;
        } else {
          failure = err;
          outcome = NoConnectionOpened(err) ? WriteOutcome::Failed : WriteOutcome::Unknown;
        }
      } else {
        const OleVariant packet = client->SQL2OleVariant(
            fmt::format("SELECT id, name FROM big_table WHERE id = {}", row(rng)), err,
            TCallSafety::ReadOnly);
        if (!err.empty()) {
          failure = err;
        } else if (!packet.IsByteArray()) {
          failure = "the read returned no data packet";
        }
      }
    } catch (const EDSOutcomeUnknown& e) {
      failure = e.what();
      outcome = WriteOutcome::Unknown;
    } catch (const EDSConnectionError& e) {  // given up before anything was sent
      failure = e.what();
      outcome = WriteOutcome::Failed;
      client.reset();
    } catch (const EDSLoginError& e) {  // refused at the login: nothing was sent
      failure = e.what();
      outcome = WriteOutcome::Failed;
      client.reset();
    } catch (const std::exception& e) {  // the server failed the call: it may have run
      failure = e.what();
      outcome = WriteOutcome::Unknown;
    }
    if (reconnect_asked) reconnect_worker_ = -1;
    const bool ok = failure.empty();
    log.calls.push_back(CallMark{LoadClock::now(), ok});
    if (writer) {
      std::lock_guard lock(ids_mu_);
      ids_[id] = outcome;
    }
    if (ok) {
      successes_.fetch_add(1);
    } else {
      ++log.errors[failure];
      std::this_thread::sleep_for(kPauseAfterFailure);
    }
  }
}

ServiceGap LongestGap(const std::vector<WorkerLog>& logs, Workers kind, LoadClock::time_point from,
                      LoadClock::time_point to) {
  ServiceGap gap;
  for (const WorkerLog& log : logs) {
    if (log.writer != (kind == Workers::Writers)) continue;
    std::optional<LoadClock::time_point> last_success;
    bool hit = false;
    for (const CallMark& call : log.calls) {
      if (!call.ok) {
        hit = hit || (call.end >= from && call.end <= to);
        continue;
      }
      // Two successes in a row bound a time without service when it overlaps the window.
      if (last_success && call.end > from && *last_success < to) {
        gap.longest = std::max(gap.longest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                call.end - *last_success));
      }
      last_success = call.end;
    }
    if (hit) ++gap.workers_hit;
    // Failures after the last success, and none since: not recovered by the end of the log.
    if (!log.calls.empty() && !log.calls.back().ok && log.calls.back().end >= from) {
      gap.recovered = false;
      const auto start = last_success.value_or(from);
      gap.longest = std::max(gap.longest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                              log.calls.back().end - start));
    }
  }
  return gap;
}

std::chrono::milliseconds FirstWriteAfter(const std::vector<WorkerLog>& logs,
                                          LoadClock::time_point at) {
  std::optional<LoadClock::time_point> first;
  for (const WorkerLog& log : logs) {
    if (!log.writer) continue;
    for (const CallMark& call : log.calls) {
      if (call.ok && call.end > at) {
        if (!first || call.end < *first) first = call.end;
        break;
      }
    }
  }
  if (!first) return std::chrono::milliseconds(-1);
  return std::chrono::duration_cast<std::chrono::milliseconds>(*first - at);
}

}  // namespace velmora::test
