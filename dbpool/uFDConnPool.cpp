#include "dbpool/uFDConnPool.h"

#include <memory>

#include "common/app_path.h"
#include "common/log_sink.h"
#include "common/server_metrics.h"

namespace velmora {
namespace {

std::unique_ptr<TFDConnection> OpenConnection() {
  auto connection = std::make_unique<TFDConnection>();
  connection->Params().LoadFromFile(AppPath() + "DataBase.CFG");
  connection->LoginPrompt = false;
  connection->Open();
  return connection;
}

bool Usable(TFDConnection& connection, bool look) {
  const std::string reason = connection.UnusableReason(look);
  if (reason.empty()) return true;
  LogServerEvent("Database connection dropped: " + reason);
  return false;
}

// The file on disk is looked at here only, once per call: enough that no stale connection is
// ever handed out.
bool UsableOnHandOut(TFDConnection& connection) {
  return Usable(connection, true);
}

bool KeepOnGiveBack(TFDConnection& connection) {
  connection.SetStatementTimeout(std::nullopt);
  connection.ClearInterrupt();
  if (connection.InTransaction()) {
    try {
      connection.Rollback();
    } catch (const std::exception& e) {
      LogServerEvent(std::string("Database connection dropped: the rollback of a transaction left "
                                 "open failed: ") +
                     e.what());
      return false;
    }
  }
  if (!Usable(connection, false)) return false;
  // The next caller finds the session as it was opened, whatever this one set.
  try {
    return connection.RestoreSession();
  } catch (const std::exception& e) {
    LogServerEvent(std::string("Database connection dropped: its session could not be reset: ") +
                   e.what());
    return false;
  }
}

}  // namespace

TFDConnectionPool::TFDConnectionPool(int ACapicity, int timeout_ms)
    : FPool(ACapicity, OpenConnection, nullptr, timeout_ms) {
  FPool.SetChecks(UsableOnHandOut, KeepOnGiveBack);
  FPool.SetMetrics(&metrics::Metrics().Pool(metrics::PoolKind::kConnections));
}

}  // namespace velmora
