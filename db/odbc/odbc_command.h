// One ODBC command text or stored-procedure call.
//
// The rules:
// - A driver that runs batches (SQL Server) gets the whole text in one SQLExecDirect; for one
//   that takes one statement per call (SQLite's and MDB Tools' drivers), and for PostgreSQL's
//   (whose server would run a batch as one transaction), the text is split at its top-level ";"
//   and the statements run one after the other (TOdbcConnection::Batches).
// - Every statement runs until SQLMoreResults says there is no more: results that carry only
//   messages or row counts (SQL_SUCCESS_WITH_INFO included) are success, and stopping early would
//   cancel the rest of the batch on the server.
// - Open stops at the first result that has columns; results with only a row count are skipped.
// - Output parameters are read back only after every result has been drained (the drivers
//   fill them then), into the first parameter of the same name (letter case folded,
//   NamesEqual).
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/dataset.h"
#include "db/core/driver.h"
#include "db/odbc/odbc_api.h"
#include "db/odbc/odbc_params.h"
#include "db/odbc/odbc_text.h"
#include "db/odbc/odbc_types.h"

namespace velmora {

class TOdbcConnection;

class TOdbcCommand : public TDriverCommand {
 public:
  TOdbcCommand(TOdbcConnection& connection, std::string sql);
  // "{call name(?, ...)}" (or "{? = call ...}" with a ptResult parameter), each parameter bound
  // by its kind; ptUnknown counts as input.
  static std::unique_ptr<TOdbcCommand> StoredProc(TOdbcConnection& connection,
                                                  std::string_view name,
                                                  std::span<TParam* const> params);
  ~TOdbcCommand() override;
  TOdbcCommand(const TOdbcCommand&) = delete;
  TOdbcCommand& operator=(const TOdbcCommand&) = delete;

  void SetParams(std::span<TParam* const> markers) override;
  void Execute() override;
  bool Open() override;
  const TFieldDefs& Columns() const override { return columns_; }
  void FetchAll(TDataSet& out) override;
  int64_t RowsAffected() const override { return rows_affected_; }

 private:
  struct Marker {
    TParam* param = nullptr;   // the value bound
    TParam* target = nullptr;  // where an output value goes
    SQLSMALLINT direction = SQL_PARAM_INPUT;
  };
  struct Column {
    TOdbcReader reader;
    bool wide;
  };

  void Restart();
  bool RunNextStatement();  // binds and executes the next statement; false when none is left
  bool SeekRows();          // skips results without columns; false when none is left
  void DrainResults();      // the rest of the current statement's results
  void Finish();            // outputs are read once every statement has run
  void CountRows();
  SQLRETURN MoreResults();
  void Check(SQLRETURN rc);
  void BindMarker(const Marker& marker, SQLUSMALLINT index);
  void ReadOutputs();
  void Describe();
  void ReadRow(TDataSet& out);
  void ReadValue(RecordAppender& out, SQLUSMALLINT column);
  // Reads a character or binary value in pieces; false for NULL.
  bool ReadLong(SQLUSMALLINT column, SQLSMALLINT c_type, std::string& out);
  bool ReadFixed(SQLUSMALLINT column, SQLSMALLINT c_type, void* value, SQLLEN size);
  std::string TextOf(SQLUSMALLINT column, bool wide, bool& is_null);

  TOdbcConnection& connection_;
  const TOdbcApi& api_;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::vector<TOdbcStatementText> statements_;
  size_t next_statement_ = 0;
  size_t next_marker_ = 0;
  bool running_ = false;  // a statement's results are not yet drained
  std::vector<Marker> markers_;
  std::deque<TOdbcParamBinding> bound_;  // stable addresses: the driver holds them until the end
  TFieldDefs columns_;
  std::vector<Column> readers_;
  std::string chunk_;  // SQLGetData's buffer, reused
  int64_t rows_affected_ = 0;
};

}  // namespace velmora
