// The interface every database driver implements. A driver is chosen by the DriverID parameter of
// a connection; the connection talks to the engine only through these classes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/field_defs.h"
#include "db/core/command_text.h"
#include "db/core/string_list.h"

namespace velmora {

class TDataSet;
class TParam;
class TStatementStop;

// One prepared command text (one or several statements, where the engine allows several).
// Parameter markers in the text are positional "?"; engine errors raise EFDDBEngineException.
class TDriverCommand {
 public:
  virtual ~TDriverCommand() = default;

  // The parameter behind each "?" marker of the text, in order. Input values are bound when the
  // statement runs; output values are read back into the same parameters after it has run.
  // The pointers must stay valid until the command is destroyed.
  virtual void SetParams(std::span<TParam* const> markers) = 0;

  // Runs every statement of the text, discarding any rows.
  virtual void Execute() = 0;
  // Runs the statements of the text up to the first that returns a result set and stops before
  // its first row; Columns() then describes it. Returns false, without running the last
  // statement, when no statement of the text returns a result set.
  virtual bool Open() = 0;
  // The result set's columns: name, field type, size, precision, scale, origin, key,
  // auto-increment and required (not nullable) attributes.
  virtual const TFieldDefs& Columns() const = 0;
  // Appends every remaining row of the result set to `out` through its append path (its fields
  // must match Columns()), then runs the statements that follow it.
  virtual void FetchAll(TDataSet& out) = 0;

  // Rows inserted, updated or deleted by the statements run so far.
  virtual int64_t RowsAffected() const = 0;

  // Runs the text again, after Execute ran it to its end, with the values the markers'
  // parameters (as last given to SetParams) hold now; RowsAffected then counts this run only.
  // For callers that run one text many times (ApplyUpdates). Returns false, running nothing, when
  // the driver cannot; the caller then makes a new command. The default cannot.
  virtual bool ExecuteAgain() { return false; }
};

// Names a backup file after the database's own file name (TDriverConnection::BackUp).
using TBackupFileNamer = std::function<std::string(std::string_view database_file_name)>;

// One open session with a database.
class TDriverConnection {
 public:
  virtual ~TDriverConnection() = default;

  // Raises "A transaction is already active" when one is open.
  virtual void StartTransaction() = 0;
  // Raises "No transaction is active" when none is open.
  virtual void Commit() = 0;
  // Rolls the open transaction back. When the engine has already rolled back the transaction
  // StartTransaction began (a statement's own ROLLBACK conflict resolution or RAISE(ROLLBACK)),
  // does nothing; raises "No transaction is active" when none was begun.
  virtual void Rollback() = 0;
  virtual bool InTransaction() const = 0;

  // Savepoints inside the open transaction: a mark, giving the mark up (its changes stay in the
  // transaction), and undoing everything done since the mark (the mark stays set until released).
  // Raise when no transaction is open or the engine refuses. The defaults run the standard
  // statements SAVEPOINT, RELEASE SAVEPOINT and ROLLBACK TO SAVEPOINT through CreateCommand; an
  // engine that spells them otherwise overrides them, one without savepoints makes them raise.
  virtual void Savepoint(std::string_view name) { RunControl("SAVEPOINT ", name); }
  virtual void ReleaseSavepoint(std::string_view name) { RunControl("RELEASE SAVEPOINT ", name); }
  virtual void RollbackToSavepoint(std::string_view name) {
    RunControl("ROLLBACK TO SAVEPOINT ", name);
  }

  // Hands the session the rules that stop its statements (db/core/statement_stop.h): it arms them
  // at each statement's start and checks them while the statement runs; transaction control is
  // never stopped. `stop` outlives the session. A driver that cannot stop a running statement
  // keeps the default, which ignores them.
  virtual void SetStatementStop(TStatementStop* stop) { (void)stop; }
  // Empty while the session may be trusted with more work; otherwise why not: the engine reported
  // the database lost or damaged, or the database file was deleted or replaced since the session
  // opened it. With `look`, also looks at what may have changed outside the session (SQLite: one
  // stat of the file's path); without, reports only what the session has seen itself. A pool
  // drops a session that is not usable instead of handing it out again.
  virtual std::string UnusableReason(bool look) {
    (void)look;
    return {};
  }

  // Before a pool hands the session to its next caller: gives the session back the state it had
  // when it opened (its settings, no temporary objects or other state an earlier caller left),
  // where a statement run on it may have changed that state; outside a transaction. Returns false
  // when the session cannot be restored in place (the pool then closes it and the next caller
  // gets a new one); raises the engine's error when restoring failed. The default: the engine
  // keeps nothing a caller could change.
  virtual bool RestoreSession() { return true; }

  // The server's own backup of the session's database (maintenance/backup/). An engine whose
  // databases are backed up with their own tools keeps the default, which writes nothing and
  // returns nullopt. One that backs up writes a consistent copy of the database, while other
  // sessions go on working, to the file `file_for` names, and returns that file; it raises with the
  // reason, naming the file, when there is nothing to copy or the copy fails, and a failed copy
  // leaves an earlier file of that name as it was.
  virtual std::optional<std::string> BackUp(const TBackupFileNamer& file_for) {
    (void)file_for;
    return std::nullopt;
  }

  // Rewrites one escape sequence into this engine's SQL.
  virtual std::string TranslateEscape(const TSqlEscape& escape) const = 0;
  // How this engine quotes and comments (db/core/sql_dialects.h): the command-text layer reads
  // markers and escapes by it, so that nothing inside the engine's strings, names, comments or
  // bodies is taken for one. The same for the session's whole life. The default, for a driver
  // that names none: the quotes of every engine at once.
  virtual const TSqlDialect& Dialect() const { return kAnyEngineSqlDialect; }
  // The ranges of `text` this engine takes as written, in order: the bodies of stored code that
  // its dialect's lexer cannot tell (Firebird's PSQL bodies), where ":NAME" is the engine's own
  // variable. The command-text layer makes no parameter markers and expands no escapes there. The
  // default: none.
  virtual std::vector<TTextRange> VerbatimRanges(std::string_view text) const {
    (void)text;
    return {};
  }

  // Prepares command text already preprocessed (markers are "?").
  virtual std::unique_ptr<TDriverCommand> CreateCommand(std::string sql) = 0;
  // A call of the stored procedure `name` with the given parameters (in, out, in-out, result).
  virtual std::unique_ptr<TDriverCommand> CreateStoredProc(std::string_view name,
                                                           std::span<TParam* const> params) = 0;

 private:
  void RunControl(std::string_view verb, std::string_view name) {
    std::string sql(verb);
    sql += name;
    CreateCommand(std::move(sql))->Execute();
  }
};

// Opens a session with the driver named by the DriverID parameter, passing it the whole list.
// Raises EFDException when DriverID is missing or names no known driver, and the engine's error
// when the database cannot be opened.
std::unique_ptr<TDriverConnection> OpenDriverConnection(const TStringList& params);

}  // namespace velmora
