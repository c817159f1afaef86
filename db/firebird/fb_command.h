// One Firebird command text: cut into statements (db/firebird/fb_statement_split.h), each
// prepared, run and freed in turn, in the open transaction or in one of its own.
#pragma once

#include <ibase.h>

#include <memory>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "db/core/driver.h"
#include "db/core/statement_watch.h"
#include "db/firebird/fb_sqlda.h"

namespace velmora {

class TFbConnection;

class TFbCommand : public TDriverCommand {
 public:
  // Raises EFDException when `sql` holds a NUL character (the library reads text up to a NUL).
  TFbCommand(TFbConnection& connection, std::string sql);
  ~TFbCommand() override;
  TFbCommand(const TFbCommand&) = delete;
  TFbCommand& operator=(const TFbCommand&) = delete;

  void SetParams(std::span<TParam* const> markers) override;
  void Execute() override;
  bool Open() override;
  const TFieldDefs& Columns() const override { return columns_; }
  void FetchAll(TDataSet& out) override;
  int64_t RowsAffected() const override { return rows_affected_; }

  // A stored procedure's outputs: after a statement that returns one row of outputs (EXECUTE
  // PROCEDURE) has run, each parameter takes the value of the column of its name (letter case
  // ignored); a parameter no column names is left as it was.
  void SetOutputs(std::vector<TParam*> outputs) { outputs_ = std::move(outputs); }

 private:
  bool PrepareNext();  // the next statement prepared and bound; false at the end
  bool ReturnsRows() const;
  void RunCurrent();  // executes the prepared statement (a singleton's row is read then)
  void FinishCurrent(bool ok) noexcept(false);
  void Abandon() noexcept;  // after a failure: frees and rolls back what is open
  void Describe();
  void Bind();
  void ReadRow(TDataSet& out);
  void ReadOutputs();
  void CountRows();
  std::string ReadBlob(const ISC_QUAD& id);
  ISC_QUAD WriteBlob(std::string_view bytes);
  [[noreturn]] void Fail(const ISC_STATUS* status);
  template <typename Sink>
  void ReadValue(int index, Sink& sink);

  TFbConnection& connection_;
  std::vector<std::string> statements_;
  size_t next_ = 0;
  isc_stmt_handle stmt_ = 0;
  isc_tr_handle* tr_ = nullptr;  // the running statement's transaction
  int stmt_type_ = 0;
  std::unique_ptr<TStatementWatch::Scope> scope_;
  TFbSqlda in_{1};
  TFbSqlda out_{1};
  std::vector<TParam*> markers_;
  size_t marker_offset_ = 0;
  std::vector<TParam*> outputs_;
  TFieldDefs columns_;
  bool singleton_ready_ = false;  // a singleton row was read into out_ and not yet appended
  int64_t rows_affected_ = 0;
};

}  // namespace velmora
