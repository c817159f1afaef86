// TFDQuery: a dataset filled by one command text (SQL), which may also be executed without
// rows, and which applies its logged changes to a table (ApplyUpdates).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include "db/core/command_text.h"
#include "db/core/rdbms_dataset.h"
#include "db/core/string_list.h"

namespace velmora {

struct TFDUpdateOptions {
  // The table that ApplyUpdates writes to; empty: the origin table of the first field that has one.
  std::string UpdateTableName;
};

class TFDQuery : public TFDRdbmsDataSet {
 public:
  // The command text: the lines joined by line breaks. Parameter markers (":NAME") in it become
  // the parameters of Params the next time Params, Open or ExecSQL is used; parameters whose
  // name stays keep their type and value.
  TStringList& SQL() { return sql_; }
  const TStringList& SQL() const { return sql_; }

  TParams& Params();
  TParam& ParamByName(std::string_view name) { return Params().ParamByName(name); }

  // Runs every statement of the command text, discarding rows.
  void ExecSQL();
  // Runs the command text once for each of `count` parameter sets: `load(i)` gives Params the
  // values of set i (keeping the parameters themselves: no text change in between) before its
  // run. The text is prepared once and each set runs on that prepared statement where the engine
  // can run one again (TDriverCommand::ExecuteAgain); otherwise it is prepared anew per set.
  // Returns the rows each set inserted, updated or deleted; RowsAffected is their sum. A failing
  // set raises; the sets before it stay done unless the caller's transaction is rolled back.
  std::vector<int64_t> ExecSQLForEachSet(size_t count, const std::function<void(size_t)>& load);
  // Rows inserted, updated or deleted by the last Open or ExecSQL.
  int64_t RowsAffected() const { return rows_affected_; }

  // Drops the command text and every form of it the query keeps (its lines, the text Params was
  // read from, its preprocessed form), giving their memory back, and the parameters read from it:
  // a pooled query would otherwise hold the last client's text, however long, until its next use.
  void ReleaseCommandText();

  TFDUpdateOptions UpdateOptions;
  // Turns the change log on (it is also on after loading a saved change log).
  void SetCachedUpdates(bool on) { TDataSet::SetCachedUpdates(on); }

  // Writes every logged change to UpdateOptions.UpdateTableName as an INSERT, UPDATE or DELETE
  // with bound values; an UPDATE or DELETE finds its row by the key fields (InKey), or without
  // them by every original non-blob value. A refused change marks its row (RowError) and the
  // others go on, until more than `max_errors` have failed (-1: no limit). Returns the number of
  // failed changes. Accepted changes stay in the log until CommitUpdates.
  int ApplyUpdates(int max_errors = -1);

 protected:
  // Open (TDataSet::Open) runs the command text and fetches every row. Raises when the text is
  // empty, a parameter has no data type, the engine refuses the text, or no statement of it
  // returns a result set.
  void DoOpen() override;

 private:
  // Preprocesses the text for the attached driver and checks every parameter it uses.
  std::unique_ptr<TDriverCommand> Prepare(TDriverConnection& driver);
  // Builds Params from the command text, read as `driver`'s engine reads it (the ranges it takes
  // as written make no parameters); without a driver (no open connection), with none.
  void SyncParams(const TDriverConnection* driver);
  // The open session of the attached connection, or nullptr.
  const TDriverConnection* OpenDriver() const;

  TStringList sql_;
  std::string params_text_;  // the command text Params was last built from
  // The engine Params was read for (the type of its session; nullptr: none), its dialect, and the
  // ranges of params_text_ it takes as written: asked once per text and engine (one engine type,
  // ODBC, reads by the dialect of the database behind it).
  const std::type_info* params_engine_ = nullptr;
  const TSqlDialect* params_dialect_ = &kAnyEngineSqlDialect;
  std::vector<TTextRange> verbatim_;
  // params_text_ preprocessed as SyncParams read it (escape sequences rendered plain); Prepare
  // takes it as it is for a text without escape sequences, which no engine renders differently.
  TCommandText parsed_;
  int64_t rows_affected_ = 0;
};

}  // namespace velmora
