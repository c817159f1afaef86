#include "db/core/engine_connection.h"

#include "db/core/db_error.h"
#include "db/core/statement_stop.h"

namespace velmora {

std::string RequiredDatabase(const TStringList& params) {
  std::string database = params.Values("Database");
  if (database.empty()) throw EFDException("Connection parameter Database is missing");
  return database;
}

void TEngineConnection::DisarmStop() const {
  if (stop_ != nullptr) stop_->Disarm();
}

void TEngineConnection::StartTransaction() {
  if (InTransaction()) throw EFDException("A transaction is already active");
  DisarmStop();
  BeginTransaction();
}

void TEngineConnection::Commit() {
  if (!InTransaction()) throw EFDException("No transaction is active");
  DisarmStop();
  CommitTransaction();
}

void TEngineConnection::Rollback() {
  if (!InTransaction()) {
    if (TransactionEndedByEngine()) return;
    throw EFDException("No transaction is active");
  }
  DisarmStop();
  RollbackTransaction();
}

}  // namespace velmora
