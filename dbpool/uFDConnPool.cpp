#include "dbpool/uFDConnPool.h"

#include <memory>

#include "common/app_path.h"
#include "common/log_sink.h"

namespace velmora {
namespace {

std::unique_ptr<TFDConnection> OpenConnection() {
  auto connection = std::make_unique<TFDConnection>();
  connection->Params().LoadFromFile(AppPath() + "DataBase.CFG");
  connection->LoginPrompt = false;
  connection->Open();
  return connection;
}

bool UsableOnHandOut(TFDConnection& connection) {
  const std::string reason = connection.UnusableReason();
  if (reason.empty()) return true;
  LogServerEvent("Database connection dropped: " + reason);
  return false;
}

bool KeepOnGiveBack(TFDConnection& connection) {
  connection.SetStatementTimeout(std::nullopt);
  connection.ClearInterrupt();
  if (connection.InTransaction()) {
    try {
      connection.Rollback();
    } catch (const std::exception& e) {
      LogServerEvent(std::string("Database connection dropped: the rollback of a transaction left "
                                 "open failed: ") + e.what());
      return false;
    }
  }
  return UsableOnHandOut(connection);
}

}  // namespace

TFDConnectionPool::TFDConnectionPool(int ACapicity, int timeout_ms)
    : FPool(ACapicity, OpenConnection, nullptr, timeout_ms) {
  FPool.SetChecks(UsableOnHandOut, KeepOnGiveBack);
}

}  // namespace velmora
