#include "db/core/query.h"

#include <fmt/core.h>

#include <utility>

#include "db/core/db_error.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

bool IsBlank(std::string_view text) {
  return TrimBlanks(text).empty();
}

}  // namespace

TParams& TFDQuery::Params() {
  SyncParams(OpenDriver());
  return params_;
}

const TDriverConnection* TFDQuery::OpenDriver() const {
  TFDConnection* connection = Connection();
  return connection != nullptr && connection->Connected() ? &connection->Driver() : nullptr;
}

void TFDQuery::SyncParams(const TDriverConnection* driver) {
  std::string text = sql_.Text();
  const std::type_info* engine = driver != nullptr ? &typeid(*driver) : nullptr;
  const TSqlDialect* dialect = driver != nullptr ? &driver->Dialect() : nullptr;
  // Read without an engine, the text keeps what it was last read with.
  if (text == params_text_ &&
      (engine == nullptr || (engine == params_engine_ && dialect == params_dialect_))) {
    return;
  }
  verbatim_ = driver != nullptr ? driver->VerbatimRanges(text) : std::vector<TTextRange>{};
  params_engine_ = engine;
  params_dialect_ = dialect != nullptr ? dialect : &kAnyEngineSqlDialect;
  parsed_ = PreprocessCommandText(text, RenderEscapePlain, *params_dialect_, verbatim_);
  TParams fresh;
  for (const std::string& name : parsed_.names) {
    const TParam* old = params_.FindParam(name);
    TParam& p = fresh.Add();
    if (old != nullptr) p = *old;
    p.Name = name;
    if (p.ParamType == ptUnknown) p.ParamType = ptInput;
  }
  params_.Swap(fresh);
  params_text_ = std::move(text);
}

std::unique_ptr<TDriverCommand> TFDQuery::Prepare(TDriverConnection& driver) {
  SyncParams(&driver);
  if (IsBlank(params_text_)) throw EFDException("Command text is empty");
  if (const size_t nul = params_text_.find('\0'); nul != std::string::npos) {
    throw EFDException(fmt::format(fmt::runtime(kNulInCommandTextMessage), nul));
  }
  TCommandText rendered;
  const bool has_escapes = params_text_.find('{') != std::string::npos;
  if (has_escapes) {
    rendered = PreprocessCommandText(
        params_text_, [&driver](const TSqlEscape& e) { return driver.TranslateEscape(e); },
        *params_dialect_, verbatim_);
  }
  const TCommandText& parsed = has_escapes ? rendered : parsed_;
  std::vector<TParam*> markers;
  markers.reserve(parsed.markers.size());
  for (int index : parsed.markers) {
    TParam& p = params_.ParamByName(parsed.names[static_cast<size_t>(index)]);
    if (p.DataType == ftUnknown) {
      throw EFDException(fmt::format("Parameter [{}] data type is unknown", p.Name));
    }
    markers.push_back(&p);
  }
  std::unique_ptr<TDriverCommand> command = driver.CreateCommand(parsed.sql);
  command->SetParams(markers);
  return command;
}

void TFDQuery::ReleaseCommandText() {
  sql_.Clear();
  // Exchanged, not assigned: assigning an empty string keeps the old buffer.
  (void)std::exchange(params_text_, std::string());
  (void)std::exchange(parsed_, TCommandText());
  (void)std::exchange(verbatim_, std::vector<TTextRange>());
  params_engine_ = nullptr;
  params_.Clear();
}

void TFDQuery::DoOpen() {
  TFDConnection& connection = OpenConnection();
  rows_affected_ = 0;
  std::unique_ptr<TDriverCommand> command = Prepare(connection.Driver());
  Run(*command, true);
  rows_affected_ = command->RowsAffected();
}

std::vector<int64_t> TFDQuery::ExecSQLForEachSet(size_t count,
                                                 const std::function<void(size_t)>& load) {
  std::vector<int64_t> rows;
  if (count == 0) return rows;
  rows.reserve(count);
  TFDConnection& connection = OpenConnection();
  rows_affected_ = 0;
  load(0);
  std::unique_ptr<TDriverCommand> command = Prepare(connection.Driver());
  Run(*command, false);
  rows.push_back(command->RowsAffected());
  for (size_t i = 1; i < count; ++i) {
    load(i);
    // The parameters keep their places, so the prepared statement binds the new values; an
    // engine that cannot run a statement again gets the text prepared anew.
    if (!command->ExecuteAgain()) {
      command = Prepare(connection.Driver());
      Run(*command, false);
    }
    rows.push_back(command->RowsAffected());
  }
  for (int64_t n : rows) rows_affected_ += n;
  return rows;
}

void TFDQuery::ExecSQL() {
  TFDConnection& connection = OpenConnection();
  rows_affected_ = 0;
  std::unique_ptr<TDriverCommand> command = Prepare(connection.Driver());
  Run(*command, false);
  rows_affected_ = command->RowsAffected();
}

}  // namespace velmora
