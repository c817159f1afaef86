// TEngineConnection: what the session of every engine of this build shares, so that an engine
// supplies only its own calls: the transaction guards and their messages, and the statement stop.
//
// The rules:
// - StartTransaction raises "A transaction is already active" when the engine reports one open;
//   Commit and Rollback raise "No transaction is active" when it reports none. Rollback does
//   nothing instead when the engine itself ended the transaction StartTransaction began
//   (TransactionEndedByEngine).
// - Transaction control is never stopped: the statement stop is disarmed before each of them.
// - The statement stop handed over by the connection (SetStatementStop) is StatementStop().
// Threads: the thread that uses the connection.
#pragma once

#include <string>

#include "db/core/driver.h"

namespace velmora {

// The Database parameter of a connection's list; raises "Connection parameter Database is missing"
// when it is empty.
std::string RequiredDatabase(const TStringList& params);

class TEngineConnection : public TDriverConnection {
 public:
  void StartTransaction() final;
  void Commit() final;
  void Rollback() final;
  void SetStatementStop(TStatementStop* stop) final { stop_ = stop; }

 protected:
  // The rules the statements of this session are stopped by; nullptr until the connection sets
  // them.
  TStatementStop* StatementStop() const { return stop_; }

  // The engine's own calls, run once the guards have passed.
  virtual void BeginTransaction() = 0;
  virtual void CommitTransaction() = 0;
  virtual void RollbackTransaction() = 0;
  // Asked by Rollback when the engine reports no transaction: true, forgetting it, when the one
  // StartTransaction began was ended by the engine on its own. The default: never.
  virtual bool TransactionEndedByEngine() { return false; }

 private:
  void DisarmStop() const;

  TStatementStop* stop_ = nullptr;
};

}  // namespace velmora
