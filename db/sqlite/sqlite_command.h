// One SQLite command text: its statements are prepared one after the other (each from the tail
// the previous one left) and run in turn.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "data/dataset.h"
#include "db/core/driver.h"

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
  const TFieldDefs& Columns() const override { return columns_; }
  void FetchAll(TDataSet& out) override;
  int64_t RowsAffected() const override { return rows_affected_; }
  // A text of one statement stays prepared after Execute and runs again without being parsed.
  bool ExecuteAgain() override;

  // How a column's values are read into its field.
  enum class Reader : uint8_t {
    kInteger,
    kBoolean,
    kFloat,
    kCurrency,
    kBcd,
    kDate,
    kText,
    kBytes,
    kGuid
  };

 private:
  struct Column {
    Reader reader;
    int64_t min = INT64_MIN;
    int64_t max = INT64_MAX;
  };

  bool PrepareNext();        // the next non-empty statement into stmt_; false at the end
  void BindMarkers();        // binds stmt_'s "?" markers from markers_, from marker_offset_ on
  bool TailIsBlank() const;  // no statement follows the current one
  bool Step();               // true: a row is ready
  void RunToEnd();           // steps the current statement until it is done
  void Finalize();
  void Describe();
  void InferExpressionTypes();
  void ReadRow(TDataSet& out);
  void ReadValue(RecordAppender& out, int index);
  [[noreturn]] void ThrowConversion(int index) const;

  TSQLiteConnection& connection_;
  sqlite3* db_;
  std::string sql_;
  const char* tail_;
  sqlite3_stmt* stmt_ = nullptr;
  std::vector<TParam*> markers_;
  size_t marker_offset_ = 0;  // markers used by the statements prepared so far
  TFieldDefs columns_;
  std::vector<Column> readers_;
  bool row_ready_ = false;  // a row was stepped while describing and is not yet read
  bool kept_ = false;       // stmt_ is the text's only statement, run by Execute and reset
  int64_t rows_affected_ = 0;
  int64_t total_changes_before_ = 0;  // engine counter when the current statement started
};

}  // namespace velmora
