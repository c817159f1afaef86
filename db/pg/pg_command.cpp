#include "db/pg/pg_command.h"

#include <fmt/format.h>

#include <charconv>
#include <climits>
#include <iterator>
#include <optional>

#include "data/dataset.h"
#include "data/params.h"
#include "db/core/db_error.h"
#include "db/core/lifting_switch.h"
#include "db/core/sql_lexer.h"
#include "db/pg/pg_session_change.h"
#include "variant/name_fold.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

constexpr Oid kPgInt8Oid = 20;
constexpr Oid kPgInt4Oid = 23;

bool StartsWith(std::string_view text, std::string_view word) {
  return text.size() >= word.size() && text.substr(0, word.size()) == word;
}

// Rows a command tag reports as changed ("INSERT 0 5", "UPDATE 3", "DELETE 1", "MERGE 2").
int64_t ChangedRows(std::string_view tag, std::string_view tuples) {
  if (!StartsWith(tag, "INSERT") && !StartsWith(tag, "UPDATE") && !StartsWith(tag, "DELETE") &&
      !StartsWith(tag, "MERGE")) {
    return 0;
  }
  int64_t n = 0;
  std::from_chars(tuples.data(), tuples.data() + tuples.size(), n);
  return n;
}

}  // namespace

TPgCommand::TPgCommand(TPgConnection& connection, std::string sql)
    : connection_(connection), pq_(connection.Api()), sql_(std::move(sql)) {
  if (const size_t nul = sql_.find('\0'); nul != std::string::npos) {
    throw EFDException(fmt::format(fmt::runtime(kNulInCommandTextMessage), nul));
  }
}

TPgCommand::TPgCommand(TPgConnection& connection, TPgStatement call, std::vector<TParam*> inputs,
                       std::vector<Oid> types, std::vector<TParam*> outputs)
    : connection_(connection),
      pq_(connection.Api()),
      split_(true),
      markers_(std::move(inputs)),
      declared_types_(std::move(types)),
      outputs_(std::move(outputs)) {
  statements_.push_back(std::move(call));
}

void TPgCommand::SetParams(std::span<TParam* const> markers) {
  markers_.assign(markers.begin(), markers.end());
}

void TPgCommand::Split() {
  if (split_) return;
  if (!Lift()) {
    statements_ = SplitPgCommandText(sql_, markers_.size());
    for (const TPgStatement& statement : statements_) {
      if (ChangesPgSession(statement.sql)) connection_.NoteSessionChange();
    }
  }
  split_ = true;
}

bool TPgCommand::Lift() {
  // A "$" may be a parameter reference ("$1") the lifted markers would take the place of.
  // The text is read with standard strings ('\' is no escape): with the setting off, the
  // server would read the quotes otherwise and a marker could land inside a string.
  if (!markers_.empty() || sql_.find('$') != std::string::npos ||
      !connection_.CanKeepStatements() || connection_.InTransaction() ||
      !connection_.StandardStrings()) {
    return false;
  }
  if (!LiteralLiftingOn()) return false;
  // Integers only: they are typed as the literal is, whatever the context. A string's type would
  // come from its context when the statement is prepared and stay fixed while it is kept, though
  // DDL (of any session), search_path or settings may make the same text read it otherwise.
  thread_local TLiftedText lifted;
  if (!LiftLiterals(sql_, kPgDialect, lifted, {.strings = false})) return false;
  for (const int marker : lifted.markers) {
    if (marker < 0) return false;  // a "?" of the text's own: one of PostgreSQL's operators
  }
  // Only a SELECT: any other text that may not give rows is described before it runs (Open).
  {
    TSqlLexer lexer(lifted.sql, kPgDialect);
    TSqlToken first;
    while (lexer.Next(first) &&
           (first.kind == TSqlTokenKind::kBlank || first.kind == TSqlTokenKind::kComment)) {
    }
    if (first.kind != TSqlTokenKind::kWord || !EqualsNoCase(first.text, "SELECT")) return false;
  }
  const size_t n = lifted.values.size();
  TPgStatement statement;
  statement.sql.reserve(lifted.sql.size() + 3 * n);
  statement.marker_count = n;
  statement.returns_rows = true;
  size_t copied = 0;
  for (size_t k = 0; k < n; ++k) {
    const size_t at = lifted.marker_offsets[k];
    statement.sql.append(lifted.sql, copied, at - copied);
    fmt::format_to(std::back_inserter(statement.sql), "${}", k + 1);
    copied = at + 1;
  }
  statement.sql.append(lifted.sql, copied);

  lifted_values_.resize(n);
  send_.values.resize(n);
  send_.lengths.resize(n);
  send_.formats.assign(n, 0);
  send_.types.resize(n);
  lifted_key_ = statement.sql;
  lifted_key_ += '\0';  // then one letter per value's type: the same text typed otherwise differs
  for (size_t k = 0; k < n; ++k) {
    const TLiftedValue& v = lifted.values[k];
    std::string& text = lifted_values_[k];
    text = std::to_string(v.integer);
    // As PostgreSQL types the constant, its sign folded in: -2147483648 is int4.
    const bool fits_int4 = v.integer >= INT32_MIN && v.integer <= INT32_MAX;
    send_.types[k] = fits_int4 ? kPgInt4Oid : kPgInt8Oid;
    lifted_key_ += fits_int4 ? 'i' : 'l';
    send_.values[k] = text.c_str();
    send_.lengths[k] = static_cast<int>(text.size());
  }
  statements_.assign(1, std::move(statement));
  lifted_ = true;
  return true;
}

TPgResult TPgCommand::RunLifted(const TPgStatement& statement) {
  std::optional<TPgKeptStatement> kept = connection_.TakeStatement(lifted_key_);
  const bool prepared_before = kept.has_value();
  // A kept statement changed nothing: the session's reset, which such a change asks for, drops
  // every kept statement.
  if (!prepared_before && ChangesPgSession(statement.sql)) connection_.NoteSessionChange();
  TPgKeptStatement named = prepared_before ? std::move(*kept) : connection_.NewStatement();
  try {
    TPgResult result =
        connection_.RunNamed(named, prepared_before ? nullptr : &statement.sql, send_);
    // A command runs its statements once (next_ only grows): the key is not needed again.
    connection_.KeepStatement(std::move(lifted_key_), std::move(named));
    return result;
  } catch (const EFDDBEngineException&) {
    connection_.CloseStatement(std::move(named));
    // A kept statement that fails may have met DDL of another session: what the session knows
    // of the catalog and of result layouts may be out of date too.
    if (prepared_before) connection_.ForgetCatalog();
    if (!connection_.MayRunAgain()) throw;
  }
  lifted_ = false;
  return connection_.Exec(sql_, TPgSendParams{}, false);  // as written, in the same stop
}

void TPgCommand::Bind(const TPgStatement& statement) {
  const size_t n = statement.marker_count;
  values_.resize(n);
  send_.values.assign(n, nullptr);
  send_.lengths.assign(n, 0);
  send_.formats.assign(n, 0);
  send_.types.assign(n, 0);
  for (size_t k = 0; k < n; ++k) {
    const size_t index = statement.first_marker + k;
    TPgParamValue& v = values_[k];
    PgParamValue(index < markers_.size() ? markers_[index] : nullptr, v);
    if (v.null) continue;
    send_.values[k] = v.data.c_str();
    send_.lengths[k] = static_cast<int>(v.data.size());
    send_.formats[k] = v.format;
    send_.types[k] = v.oid != 0 || index >= declared_types_.size() ? v.oid : declared_types_[index];
  }
}

TPgResult TPgCommand::Run(const TPgStatement& statement) {
  if (lifted_) return RunLifted(statement);
  Bind(statement);
  return connection_.Exec(statement.sql, send_);
}

void TPgCommand::Finished(const TPgResult& result) {
  const std::string_view tag = pq_.cmdStatus(result.get());
  rows_affected_ += ChangedRows(tag, pq_.cmdTuples(result.get()));
  if (StartsWith(tag, "CREATE") || StartsWith(tag, "ALTER") || StartsWith(tag, "DROP")) {
    connection_.ForgetCatalog();
  } else if (tag == "DISCARD ALL" || tag == "DEALLOCATE ALL") {
    connection_.ForgetKeptStatements();
  }
  if (!outputs_.empty()) ReadOutputs(result.get());
}

void TPgCommand::Execute() {
  Split();
  while (next_ < statements_.size()) Finished(Run(statements_[next_++]));
}

bool TPgCommand::Open() {
  Split();
  while (next_ < statements_.size()) {
    const TPgStatement& statement = statements_[next_++];
    TPgResult result;
    if (next_ == statements_.size() && !statement.returns_rows) {
      // The last statement runs only when it gives rows: described before it runs.
      Bind(statement);
      const TPgResult description = connection_.PrepareAndDescribe(statement.sql, send_);
      if (pq_.nfields(description.get()) == 0) return false;
      result = connection_.ExecutePrepared(send_);
    } else {
      result = Run(statement);
    }
    if (pq_.resultStatus(result.get()) == PGRES_TUPLES_OK && pq_.nfields(result.get()) > 0) {
      Finished(result);
      layout_ = connection_.Layout(result.get());
      rows_ = std::move(result);
      return true;
    }
    Finished(result);
  }
  return false;
}

const TFieldDefs& TPgCommand::Columns() const {
  static const TFieldDefs kNone;
  return layout_ ? layout_->columns : kNone;
}

void TPgCommand::FetchAll(TDataSet& out) {
  if (rows_) {
    const PGresult* r = rows_.get();
    const int rows = pq_.ntuples(r);
    const std::vector<TPgColumnType>& types = layout_->types;
    const int fields = static_cast<int>(types.size());
    // Read through locals: the calls below could change the table, as far as the compiler knows.
    const auto value_of = pq_.getvalue;
    const auto length_of = pq_.getlength;
    const auto is_null = pq_.getisnull;
    std::string scratch;
    for (int row = 0; row < rows; ++row) {
      RecordAppender& append = out.BeginAppend();
      try {
        for (int f = 0; f < fields; ++f) {
          // A value of one byte or more is not NULL: only an empty one needs asking.
          const int length = length_of(r, row, f);
          if (length == 0 && is_null(r, row, f) != 0) {
            append.AppendNull();
            continue;
          }
          const std::string_view text(value_of(r, row, f), static_cast<size_t>(length));
          if (!AppendPgValue(types[static_cast<size_t>(f)].reader, text, append, scratch)) {
            ThrowConversion(f, text);
          }
        }
      } catch (...) {
        out.CancelAppend();
        throw;
      }
      out.EndAppend();
    }
    rows_.Reset();
  }
  Execute();  // the statements after the result set
}

void TPgCommand::ReadOutputs(const PGresult* r) {
  const int fields = pq_.nfields(r);
  const bool has_row = pq_.resultStatus(r) == PGRES_TUPLES_OK && pq_.ntuples(r) > 0;
  for (TParam* param : outputs_) {
    int column = -1;
    for (int f = 0; f < fields && column < 0; ++f) {
      if (NamesEqual(pq_.fname(r, f), param->Name)) column = f;
    }
    if (column < 0 && param->ParamType == ptResult && fields > 0) column = 0;
    if (column < 0) continue;
    if (!has_row || pq_.getisnull(r, 0, column) != 0) {
      param->SetValue(OleVariant::Null());
      continue;
    }
    const TPgColumnType type = MapPgType(pq_.ftype(r, column), pq_.fmod(r, column));
    const std::string_view text(pq_.getvalue(r, 0, column),
                                static_cast<size_t>(pq_.getlength(r, 0, column)));
    param->SetValue(PgValueAsVariant(type, text));
  }
}

void TPgCommand::ThrowConversion(int i, std::string_view text) const {
  if (text.size() > 64) text = text.substr(0, 64);
  throw EFDException(fmt::format("Cannot convert value '{}' of column [{}] to {}", text,
                                 Columns()[i].Name, FieldTypeName(Columns()[i].DataType)));
}

}  // namespace velmora
