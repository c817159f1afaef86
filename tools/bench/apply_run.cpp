#include "tools/bench/apply_run.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <vector>

#include "client/delta_edit.h"
#include "client/velmora_client.h"
#include "codec/packets.h"
#include "tools/bench/workload.h"
#include "tools/self_host/scratch_folder.h"
#include "tools/self_host/self_hosted_server.h"

namespace velmora::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string NewName(int round, int64_t id) {
  return fmt::format("apply {} row {}", round, id);
}

// The UPDATEs of one round by a plain sqlite3 loop: one statement prepared once, one transaction.
double SqliteLoop(const std::string& path, int round) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path);
  }
  sqlite3_busy_timeout(db, 10000);
  sqlite3_stmt* stmt = nullptr;
  const auto check = [db](int rc) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
  };
  double seconds = 0;
  try {
    const Clock::time_point start = Clock::now();
    check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
    check(sqlite3_prepare_v2(db, "UPDATE BIG_TABLE SET NAME = ? WHERE ID = ?", -1, &stmt, nullptr));
    for (int64_t id = 1; id <= kApplyRows; ++id) {
      const std::string name = NewName(round, id);
      sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int64(stmt, 2, id);
      check(sqlite3_step(stmt));
      if (sqlite3_changes(db) != 1) throw std::runtime_error("the loop missed a row");
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    stmt = nullptr;
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr));
    seconds = Seconds(start);
  } catch (...) {
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
  return seconds;
}

}  // namespace

int RunApplyWorkload(const std::string& user, const std::string& password,
                     const ApplyOptions& options) {
  if (!options.json)
    fmt::print("generating a {}-row database and starting a server...\n", kBigTableRows);
  self_host::ScratchFolder folder;
  self_host::SelfHostedServer server(
      self_host::SelfHostOptions{folder.Path(), user, password, kBigTableRows});
  TVelmoraClient client;
  client.Connect("127.0.0.1", server.Port(), user, password);

  std::vector<double> apply, build, loop;
  for (int round = 0; round < options.rounds; ++round) {
    // The client's side: the rows read, renamed locally and saved as a delta (not in the figure).
    const Clock::time_point built = Clock::now();
    std::string err;
    TFDMemTable rows;
    LoadForEditing(
        client.SQL2OleVariant(
            fmt::format("SELECT ID, NAME FROM BIG_TABLE WHERE ID <= {}", kApplyRows), err),
        rows);
    if (!err.empty()) throw std::runtime_error(err);
    SetKeyFields(rows, {"ID"});
    for (rows.First(); !rows.Eof(); rows.Next()) {
      rows.Edit();
      rows.Fields(1).SetValue(OleVariant(NewName(2 * round, rows.Fields(0).AsLargeInt())));
      rows.Post();
    }
    const OleVariant delta = WriteDeltaPacket(rows);
    build.push_back(Seconds(built));

    const Clock::time_point start = Clock::now();
    client.UpdateOleVariant("BIG_TABLE", delta, err);
    apply.push_back(Seconds(start));
    if (!err.empty()) throw std::runtime_error("the delta was refused: " + err);
    loop.push_back(SqliteLoop(server.DatabasePath(), 2 * round + 1));
  }
  const double a = Median(apply), l = Median(loop), b = Median(build);
  if (options.json) {
    fmt::print(
        "{{\"workload\":\"apply\",\"rows\":{},\"rounds\":{},\"server_s\":{:.4f},"
        "\"sqlite_loop_s\":{:.4f},\"ratio\":{:.3f},\"client_delta_s\":{:.4f}}}\n",
        kApplyRows, options.rounds, a, l, l / a, b);
  } else {
    fmt::print(
        "apply: {} modified rows, median of {} rounds\n"
        "  server (UpdateOleVariant, one call)  {:8.1f} ms  {:10.0f} rows/s\n"
        "  sqlite3 loop, one transaction        {:8.1f} ms  {:10.0f} rows/s\n"
        "  ratio (loop / server)                {:8.3f}\n"
        "  client: read, edit, save the delta   {:8.1f} ms (not in the ratio)\n",
        kApplyRows, options.rounds, a * 1000, kApplyRows / a, l * 1000, kApplyRows / l, l / a,
        b * 1000);
  }
  return 0;
}

}  // namespace velmora::bench
