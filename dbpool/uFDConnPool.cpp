#include "dbpool/uFDConnPool.h"

#include <memory>

#include "common/app_path.h"

namespace velmora {
namespace {

std::unique_ptr<TFDConnection> OpenConnection() {
  auto connection = std::make_unique<TFDConnection>();
  connection->Params().LoadFromFile(AppPath() + "DataBase.CFG");
  connection->LoginPrompt = false;
  connection->Open();
  return connection;
}

}  // namespace

TFDConnectionPool::TFDConnectionPool(int ACapicity, int timeout_ms)
    : FPool(ACapicity, OpenConnection, nullptr, timeout_ms) {}

}  // namespace velmora
