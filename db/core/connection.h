// TFDConnection: one session with the database named by its parameter list (DataBase.CFG lines:
// DriverID, Database, User_Name, Password, Server and any driver-specific key).
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/core/driver.h"
#include "db/core/statement_stop.h"
#include "db/core/string_list.h"

namespace velmora {

// Guards every link between a dataset and its connection: attaching, detaching and reading it.
// A pooled connection may be trimmed on one thread while another attaches the query last used
// with it, so the link must change as one step.
std::mutex& DatasetLinkMutex();

// A dataset attached to a connection. The connection tells it when it goes away.
class TFDConnectionClient {
 public:
  virtual ~TFDConnectionClient() = default;
  // The connection is closing or being destroyed; the dataset must forget it.
  virtual void ConnectionDetached() = 0;
};

class TFDConnection {
 public:
  TFDConnection() = default;
  // Closes the session (an open transaction is rolled back) and detaches every dataset.
  ~TFDConnection();
  TFDConnection(const TFDConnection&) = delete;
  TFDConnection& operator=(const TFDConnection&) = delete;

  // Name=Value parameter lines; LoadFromFile replaces them all. Changes take effect at the
  // next Open.
  TStringList& Params() { return params_; }
  const TStringList& Params() const { return params_; }

  // "DriverID=SQLite;Database=/data/app.db;User_Name=...": the parameters joined by ";".
  std::string ConnectionString() const;
  // Replaces the parameters with the "Name=Value" pairs of `text` (separated by ";"; a value
  // may be enclosed in double quotes to hold ";"). A DriverID set before is kept when the text
  // names none.
  void SetConnectionString(std::string_view text);
  // The DriverID parameter.
  std::string DriverName() const { return params_.Values("DriverID"); }
  void SetDriverName(std::string_view driver_id) { params_.SetValue("DriverID", driver_id); }

  // Opens the session with the driver named by DriverID; does nothing when already open. Raises
  // when the driver is unknown or the database cannot be reached.
  void Open();
  // Rolls back an open transaction, detaches every dataset and ends the session.
  void Close();
  bool Connected() const { return driver_ != nullptr; }
  void SetConnected(bool value) { value ? Open() : Close(); }

  // Outside a transaction every command commits on its own.
  void StartTransaction();  // opens the connection when needed
  void Commit();
  void Rollback();
  bool InTransaction() const { return driver_ != nullptr && driver_->InTransaction(); }

  // The open session; raises EFDException when the connection is not open.
  TDriverConnection& Driver();

  // The longest one statement may run on this connection: nullopt (the default) takes
  // Limits().StatementTimeout when each statement starts; zero means no limit (the backup engine).
  // A pooled connection goes back to the default when it is given back.
  void SetStatementTimeout(std::optional<std::chrono::milliseconds> timeout) {
    stop_.SetTimeout(timeout);
  }
  std::optional<std::chrono::milliseconds> StatementTimeout() const {
    return stop_.TimeoutSetting();
  }
  // Stops the statement running on this connection now, and fails each one started afterwards
  // with "Statement stopped: the call was cancelled ...", until ClearInterrupt. Safe to call from
  // any thread while the connection exists (it only raises a flag the engine looks at); a
  // transaction's commit or rollback is never stopped.
  void Interrupt() noexcept { stop_.Cancel(); }
  void ClearInterrupt() noexcept { stop_.ClearCancel(); }
  bool Interrupted() const noexcept { return stop_.Cancelled(); }

  // Marks the connection as not to be used again (its user found it broken); a pool drops it when
  // it is given back.
  void MarkBroken(std::string reason) { broken_ = std::move(reason); }
  // Empty while the connection may be handed out again; otherwise why not: marked broken, or the
  // session says the database is lost, deleted or replaced (TDriverConnection::UnusableReason;
  // `look` as there).
  std::string UnusableReason(bool look = true);

  // Before the connection serves another caller (a pool's give-back): the session's state as it
  // was opened (TDriverConnection::RestoreSession); false when the connection must be closed
  // instead. Raises the engine's error. A closed connection has nothing to restore.
  bool RestoreSession() { return driver_ == nullptr || driver_->RestoreSession(); }

  // Datasets register while their Connection points here.
  void Attach(TFDConnectionClient* client);
  void Detach(TFDConnectionClient* client);
  int AttachedCount() const;

  bool LoginPrompt = true;  // no prompt is ever shown; kept for the callers that set it
  int Tag = 0;

 private:
  void DetachAll();

  TStringList params_;
  TStatementStop stop_;  // declared before the session, which refers to it
  std::string broken_;
  std::unique_ptr<TDriverConnection> driver_;
  mutable std::mutex clients_mutex_;
  std::vector<TFDConnectionClient*> clients_;
};

}  // namespace velmora
