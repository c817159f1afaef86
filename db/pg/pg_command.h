// One PostgreSQL command text: its statements (db/pg/pg_command_text.h) run one after the other,
// each with its own markers; or one stored-procedure call with its outputs read back.
//
// A text of one SELECT without parameters of its own, run outside a transaction block while
// standard_conforming_strings is on, has the integer literals it compares with lifted into
// parameters (db/core/literal_lifting.h), so that texts differing only by them share one named
// statement the session keeps (db/pg/pg_connection.h). Each lifted value is typed as PostgreSQL
// types the literal: int4 when it fits, else int8; the text resolves to the same operators,
// functions and columns as written, whatever DDL or search_path changes meanwhile (the server
// plans the kept statement again, its parameter types the literals' own), and a text that fails
// as written fails lifted too. String literals are not lifted: an unknown-typed parameter takes
// the type its context has when the statement is prepared and keeps it, so after a column's type
// changes ('ab  ' against char(4) instead of text) the same text would silently read otherwise.
// Whenever the lifted run
// fails (the statement refused, its result changed by DDL, its table dropped, a value refused),
// the statement is closed and the text runs as written, so the call gives exactly what the text
// as written gives, its error message included; a statement that was stopped (time-out, cancel)
// or a lost session is not run again. Inside a transaction block a failed statement would end the
// transaction, so texts there run as written.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

#include "db/core/driver.h"
#include "db/core/literal_lifting.h"
#include "db/pg/pg_command_text.h"
#include "db/pg/pg_connection.h"
#include "db/pg/pg_types.h"

namespace velmora {

class TPgCommand : public TDriverCommand {
 public:
  TPgCommand(TPgConnection& connection, std::string sql);
  // A prepared call: one statement whose markers are `inputs` (sent with the declared `types`,
  // 0 where unknown); after it runs, `outputs` take the values of the first row's columns of the
  // same name (letter case folded, NamesEqual), a ptResult without one the first column's.
  TPgCommand(TPgConnection& connection, TPgStatement call, std::vector<TParam*> inputs,
             std::vector<Oid> types, std::vector<TParam*> outputs);

  void SetParams(std::span<TParam* const> markers) override;
  void Execute() override;
  bool Open() override;
  const TFieldDefs& Columns() const override;
  void FetchAll(TDataSet& out) override;
  int64_t RowsAffected() const override { return rows_affected_; }

 private:
  void Split();
  // Lifts sql_'s literals into statements_ and send_; false (nothing changed) when not taken.
  bool Lift();
  TPgResult RunLifted(const TPgStatement& statement);
  void Bind(const TPgStatement& statement);
  TPgResult Run(const TPgStatement& statement);
  void Finished(const TPgResult& result);  // counts rows, reads outputs, notices DDL
  void ReadOutputs(const PGresult* result);
  [[noreturn]] void ThrowConversion(int column, std::string_view text) const;

  TPgConnection& connection_;
  const TLibPq& pq_;
  std::string sql_;
  bool split_ = false;
  std::vector<TPgStatement> statements_;
  size_t next_ = 0;  // the first statement not yet run
  std::vector<TParam*> markers_;
  std::vector<Oid> declared_types_;  // stored-procedure calls only
  std::vector<TParam*> outputs_;
  std::vector<TPgParamValue> values_;
  TPgSendParams send_;
  TPgResult rows_;                           // the open result set
  std::shared_ptr<const TPgLayout> layout_;  // the open result set's columns
  int64_t rows_affected_ = 0;
  bool lifted_ = false;     // statements_ holds the lifted text, send_ its values
  std::string lifted_key_;  // the kept statement's key: the lifted text and its types
  std::vector<std::string> lifted_values_;
};

}  // namespace velmora
