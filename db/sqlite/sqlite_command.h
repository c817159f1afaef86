// One SQLite command text: its statements are prepared one after the other (each from the tail
// the previous one left) and run in turn.
//
// A text of one statement is taken from the session's statement cache when it was run before, and
// given back to it (reset, bindings cleared) once it has run to its end without error; a statement
// that failed, a text of several statements, and a statement not run to its end are finalised.
// Open steps the first row before it describes the columns, so that a statement re-prepared by
// the engine after a schema change is described as it now is.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "data/dataset.h"
#include "db/core/driver.h"
#include "db/sqlite/sqlite_statement.h"

namespace velmora {

class TSQLiteConnection;

class TSQLiteCommand : public TDriverCommand {
 public:
  // Raises EFDException when `sql` holds a NUL character: the engine reads text up to a NUL
  // only, so the statements after it could never be prepared.
  TSQLiteCommand(TSQLiteConnection& connection, std::string sql);
  ~TSQLiteCommand() override;
  TSQLiteCommand(const TSQLiteCommand&) = delete;
  TSQLiteCommand& operator=(const TSQLiteCommand&) = delete;

  void SetParams(std::span<TParam* const> markers) override;
  void Execute() override;
  bool Open() override;
  const TFieldDefs& Columns() const override { return statement_.columns; }
  void FetchAll(TDataSet& out) override;
  int64_t RowsAffected() const override { return rows_affected_; }
  // A text of one statement stays prepared after Execute and runs again without being parsed.
  bool ExecuteAgain() override;

  using Reader = TSQLiteReader;

 private:
  bool PrepareNext();        // the next non-empty statement into stmt_; false at the end
  bool TakeCached();         // the text's statement from the session's cache into stmt_
  void BindMarkers();        // binds stmt_'s "?" markers from markers_, from marker_offset_ on
  bool TailIsBlank() const;  // no statement follows the current one
  bool Step();               // true: a row is ready; false once the statement is done
  void RunToEnd();           // steps the current statement until it is done
  void Rewind();             // resets the current statement to run again from its first row
  // Done with the current statement: back to the session's cache when it may run again,
  // finalised otherwise.
  void Release();
  void Describe();
  bool InferExpressionTypes();  // true: some column's type came from its values
  void ReadRow(TDataSet& out);
  void ReadValue(RecordAppender& out, int index);
  [[noreturn]] void ThrowConversion(int index) const;

  TSQLiteConnection& connection_;
  sqlite3* db_;
  std::string sql_;
  const char* tail_;
  TSQLiteStatement statement_;  // the current statement and its columns
  sqlite3_stmt*& stmt_ = statement_.stmt;
  std::vector<TParam*> markers_;
  size_t marker_offset_ = 0;  // markers used by the statements prepared so far
  bool single_ = false;       // the text holds one statement (only stmt_)
  bool done_ = false;         // stmt_ ran to its end without error since it last started
  bool row_ready_ = false;    // a row was stepped while opening and is not yet read
  bool kept_ = false;         // stmt_ is the text's only statement, run by Execute and reset
  int64_t rows_affected_ = 0;
  int64_t total_changes_before_ = 0;  // engine counter when the current statement started
};

}  // namespace velmora
