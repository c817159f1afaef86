#include "db/odbc/odbc_command.h"

#include <fmt/core.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>

#include "data/dataset_values.h"
#include "data/params.h"
#include "db/core/db_error.h"
#include "db/core/guid_text.h"
#include "db/core/text_encoding.h"
#include "db/odbc/odbc_connection.h"
#include "db/odbc/odbc_params.h"
#include "variant/date_time_text.h"
#include "variant/name_fold.h"
#include "variant/ole_date.h"

namespace velmora {
namespace {

constexpr size_t kChunkBytes = 16384;

// How the marker of `p` is bound: by the way its value travels; a marker without a parameter is
// an input (it binds NULL).
SQLSMALLINT DirectionOf(const TParam* p) {
  if (p == nullptr || !IsOutputParam(p->ParamType)) return SQL_PARAM_INPUT;
  return IsInputParam(p->ParamType) ? SQL_PARAM_INPUT_OUTPUT : SQL_PARAM_OUTPUT;
}

}  // namespace

TOdbcCommand::TOdbcCommand(TOdbcConnection& connection, std::string sql)
    : connection_(connection), api_(connection.Api()) {
  if (const size_t nul = sql.find('\0'); nul != std::string::npos)
    throw EFDException(fmt::format(fmt::runtime(kNulInCommandTextMessage), nul));
  switch (connection.Batches()) {
    case TOdbcConnection::TBatches::kWhole:
      statements_.push_back({std::move(sql), -1});
      break;
    case TOdbcConnection::TBatches::kSplit:
      statements_ = SplitOdbcStatements(sql, connection.Dialect());
      break;
  }
  const SQLRETURN rc = api_.SQLAllocHandle(SQL_HANDLE_STMT, connection.Handle(), &stmt_);
  if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(api_, SQL_HANDLE_DBC, connection.Handle(), rc);
}

std::unique_ptr<TOdbcCommand> TOdbcCommand::StoredProc(TOdbcConnection& connection,
                                                       std::string_view name,
                                                       std::span<TParam* const> params) {
  // Outputs go to the first parameter of their name: of two names differing only in case, the
  // first wins.
  const auto target_of = [&params](TParam* p) {
    for (TParam* q : params) {
      if (q != nullptr && NamesEqual(q->Name, p->Name)) return q;
    }
    return p;
  };
  std::vector<Marker> markers;
  std::string call = "{";
  const auto result = std::find_if(params.begin(), params.end(), [](TParam* p) {
    return p != nullptr && p->ParamType == ptResult;
  });
  if (result != params.end()) {
    markers.push_back({*result, target_of(*result), SQL_PARAM_OUTPUT});
    call += "? = ";
  }
  call += "call ";
  call += name;
  call += '(';
  bool first = true;
  for (TParam* p : params) {
    if (p == nullptr || (result != params.end() && p == *result)) continue;
    call += first ? "?" : ", ?";
    first = false;
    markers.push_back({p, target_of(p), DirectionOf(p)});
  }
  call += ")}";
  auto command = std::make_unique<TOdbcCommand>(connection, std::string());
  command->statements_.assign(1, {std::move(call), static_cast<int>(markers.size())});
  command->markers_ = std::move(markers);
  return command;
}

TOdbcCommand::~TOdbcCommand() {
  if (running_) connection_.EndStatement();
  api_.SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

void TOdbcCommand::SetParams(std::span<TParam* const> markers) {
  markers_.clear();
  for (TParam* p : markers) markers_.push_back({p, p, DirectionOf(p)});
}

void TOdbcCommand::Check(SQLRETURN rc) {
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
    running_ = false;
    connection_.FailStatement(stmt_, rc);
  }
}

void TOdbcCommand::Restart() {
  if (running_) connection_.EndStatement();
  running_ = false;
  api_.SQLFreeStmt(stmt_, SQL_CLOSE);
  next_statement_ = 0;
  next_marker_ = 0;
  rows_affected_ = 0;
  bound_.clear();
}

bool TOdbcCommand::RunNextStatement() {
  if (next_statement_ >= statements_.size()) return false;
  const TOdbcStatementText& statement = statements_[next_statement_++];
  api_.SQLFreeStmt(stmt_, SQL_CLOSE);
  api_.SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  bound_.clear();
  const size_t count = statement.markers < 0 ? markers_.size() - next_marker_
                                             : static_cast<size_t>(statement.markers);
  for (size_t k = 0; k < count; ++k) {
    const size_t index = next_marker_ + k;
    const Marker marker = index < markers_.size() ? markers_[index] : Marker{};
    BindMarker(marker, static_cast<SQLUSMALLINT>(k + 1));
  }
  next_marker_ += count;
  connection_.BeginStatement(stmt_);
  running_ = true;
  std::string sql = statement.sql;
  Check(api_.SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(sql.data()),
                           static_cast<SQLINTEGER>(sql.size())));
  return true;
}

SQLRETURN TOdbcCommand::MoreResults() {
  const SQLRETURN rc = api_.SQLMoreResults(stmt_);
  if (rc != SQL_ERROR) return rc;
  // A driver without SQLMoreResults (MDB Tools) has one result per statement.
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR text[16];
  SQLSMALLINT len = 0;
  if (SQL_SUCCEEDED(
          api_.SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, state, &native, text, sizeof text, &len)) &&
      std::string_view(reinterpret_cast<const char*>(state)) == "IM001") {
    return SQL_NO_DATA;
  }
  return rc;
}

void TOdbcCommand::CountRows() {
  SQLLEN count = -1;
  if (SQL_SUCCEEDED(api_.SQLRowCount(stmt_, &count)) && count > 0) rows_affected_ += count;
}

bool TOdbcCommand::SeekRows() {
  while (true) {
    SQLSMALLINT columns = 0;
    Check(api_.SQLNumResultCols(stmt_, &columns));
    if (columns > 0) return true;
    CountRows();
    const SQLRETURN rc = MoreResults();
    if (rc == SQL_NO_DATA) break;
    Check(rc);
  }
  running_ = false;
  connection_.EndStatement();
  return false;
}

void TOdbcCommand::DrainResults() {
  while (true) {
    SQLSMALLINT columns = 0;
    Check(api_.SQLNumResultCols(stmt_, &columns));
    if (columns == 0) CountRows();
    const SQLRETURN rc = MoreResults();
    if (rc == SQL_NO_DATA) break;
    Check(rc);
  }
  running_ = false;
  connection_.EndStatement();
}

void TOdbcCommand::Finish() {
  if (running_) connection_.EndStatement();
  running_ = false;
  ReadOutputs();
  api_.SQLFreeStmt(stmt_, SQL_CLOSE);
}

void TOdbcCommand::Execute() {
  Restart();
  while (RunNextStatement()) DrainResults();
  Finish();
}

bool TOdbcCommand::Open() {
  Restart();
  while (RunNextStatement()) {
    if (SeekRows()) {
      Describe();
      return true;
    }
  }
  Finish();
  return false;
}

void TOdbcCommand::FetchAll(TDataSet& out) {
  if (running_) {
    while (true) {
      const SQLRETURN rc = api_.SQLFetch(stmt_);
      if (rc == SQL_NO_DATA) break;
      Check(rc);
      ReadRow(out);
    }
    // Later results of the same statement (rows of further selects are dropped).
    const SQLRETURN rc = MoreResults();
    if (rc != SQL_NO_DATA) {
      Check(rc);
      DrainResults();
    } else {
      running_ = false;
      connection_.EndStatement();
    }
  }
  while (RunNextStatement()) DrainResults();
  Finish();
}

void TOdbcCommand::BindMarker(const Marker& marker, SQLUSMALLINT index) {
  TOdbcParamBinding& b = bound_.emplace_back();
  b.param = marker.param;
  b.target = marker.target;
  b.direction = marker.direction;
  PrepareOdbcParam(b);
  const SQLRETURN rc = api_.SQLBindParameter(stmt_, index, b.direction, b.c_type, b.sql_type,
                                             b.column_size, b.digits, b.buffer.data(),
                                             static_cast<SQLLEN>(b.buffer.size()), &b.indicator);
  if (!SQL_SUCCEEDED(rc)) connection_.FailStatement(stmt_, rc);
}

void TOdbcCommand::ReadOutputs() {
  for (const TOdbcParamBinding& b : bound_) ReadOdbcOutput(b);
}

void TOdbcCommand::Describe() {
  columns_.Clear();
  readers_.clear();
  SQLSMALLINT count = 0;
  Check(api_.SQLNumResultCols(stmt_, &count));
  const auto text_attribute = [this](SQLUSMALLINT column, SQLUSMALLINT field) {
    char text[512] = {};
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(
            api_.SQLColAttribute(stmt_, column, field, text, sizeof text, &len, nullptr))) {
      return std::string();
    }
    return std::string(text,
                       std::min<size_t>(len > 0 ? static_cast<size_t>(len) : 0, sizeof text - 1));
  };
  const auto number_attribute = [this](SQLUSMALLINT column, SQLUSMALLINT field) -> SQLLEN {
    SQLLEN value = 0;
    if (!SQL_SUCCEEDED(api_.SQLColAttribute(stmt_, column, field, nullptr, 0, nullptr, &value)))
      return 0;
    return value;
  };
  for (SQLUSMALLINT i = 1; i <= count; ++i) {
    char name[512] = {};
    SQLSMALLINT name_len = 0, sql_type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
    SQLULEN size = 0;
    Check(api_.SQLDescribeCol(stmt_, i, reinterpret_cast<SQLCHAR*>(name), sizeof name, &name_len,
                              &sql_type, &size, &digits, &nullable));
    std::optional<TOdbcColumnType> declared;
    if (connection_.IsSQLite()) {
      declared = MapSQLiteDriverColumnType(text_attribute(i, SQL_DESC_TYPE_NAME), size,
                                           number_attribute(i, SQL_DESC_PRECISION));
    }
    const TOdbcColumnType type =
        declared
            ? *declared
            : MapOdbcColumnType(sql_type, size, digits, number_attribute(i, SQL_DESC_UNSIGNED) != 0,
                                number_attribute(i, SQL_DESC_FIXED_PREC_SCALE) != 0);
    TFieldDef def;
    def.Name =
        name_len > 0
            ? std::string(name, std::min<size_t>(static_cast<size_t>(name_len), sizeof name - 1))
            : fmt::format("COLUMN{}", i);
    def.DataType = type.type;
    def.Size = type.size;
    def.Precision = type.precision;
    def.Scale = type.scale;
    def.Required = nullable == SQL_NO_NULLS;
    def.AutoInc = number_attribute(i, SQL_DESC_AUTO_UNIQUE_VALUE) != 0;
    const std::string table = text_attribute(i, SQL_DESC_BASE_TABLE_NAME);
    const std::string column = text_attribute(i, SQL_DESC_BASE_COLUMN_NAME);
    if (!table.empty() && !column.empty()) {
      def.OriginTable = table;
      def.OriginColumn = column;
      def.InKey = connection_.IsKeyColumn(text_attribute(i, SQL_DESC_SCHEMA_NAME), table, column);
    }
    columns_.Add(std::move(def));
    readers_.push_back({type.reader, type.wide});
  }
}

void TOdbcCommand::ReadRow(TDataSet& out) {
  RecordAppender& row = out.BeginAppend();
  try {
    for (size_t i = 0; i < readers_.size(); ++i) ReadValue(row, static_cast<SQLUSMALLINT>(i + 1));
  } catch (...) {
    out.CancelAppend();
    throw;
  }
  out.EndAppend();
}

bool TOdbcCommand::ReadFixed(SQLUSMALLINT column, SQLSMALLINT c_type, void* value, SQLLEN size) {
  SQLLEN indicator = 0;
  Check(api_.SQLGetData(stmt_, column, c_type, value, size, &indicator));
  return indicator != SQL_NULL_DATA;
}

bool TOdbcCommand::ReadLong(SQLUSMALLINT column, SQLSMALLINT c_type, std::string& out) {
  out.clear();
  chunk_.resize(kChunkBytes);
  const size_t terminator = c_type == SQL_C_WCHAR ? 2 : c_type == SQL_C_CHAR ? 1 : 0;
  while (true) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = api_.SQLGetData(stmt_, column, c_type, chunk_.data(),
                                         static_cast<SQLLEN>(chunk_.size()), &indicator);
    if (rc == SQL_NO_DATA) break;  // every piece was read
    Check(rc);
    if (indicator == SQL_NULL_DATA) return false;
    const size_t room = chunk_.size() - terminator;
    if (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > room) {
      out.append(chunk_.data(), room);  // a piece: more follows
      continue;
    }
    out.append(chunk_.data(), static_cast<size_t>(indicator));
    break;
  }
  return true;
}

std::string TOdbcCommand::TextOf(SQLUSMALLINT column, bool wide, bool& is_null) {
  std::string raw;
  is_null = !ReadLong(column, wide ? SQL_C_WCHAR : SQL_C_CHAR, raw);
  if (is_null || !wide) return raw;
  std::u16string utf16(raw.size() / 2, u'\0');
  std::memcpy(utf16.data(), raw.data(), utf16.size() * 2);
  return Utf16ToUtf8(utf16);
}

void TOdbcCommand::ReadValue(RecordAppender& out, SQLUSMALLINT column) {
  const Column& c = readers_[column - 1u];
  switch (c.reader) {
    case TOdbcReader::kInteger: {
      // 32 bits where they suffice: ODBC 2 drivers (MDB Tools) have no SQL_C_SBIGINT.
      const TFieldType type = columns_[column - 1].DataType;
      if (type != ftLargeint && type != ftLongWord) {
        SQLINTEGER v = 0;
        if (!ReadFixed(column, SQL_C_SLONG, &v, sizeof v)) return out.AppendNull();
        return out.AppendInt64(v);
      }
      SQLBIGINT v = 0;
      if (!ReadFixed(column, SQL_C_SBIGINT, &v, sizeof v)) return out.AppendNull();
      return out.AppendInt64(v);
    }
    case TOdbcReader::kBoolean: {
      unsigned char v = 0;
      if (!ReadFixed(column, SQL_C_BIT, &v, sizeof v)) return out.AppendNull();
      return out.AppendInt64(v != 0 ? 1 : 0);
    }
    case TOdbcReader::kFloat: {
      double v = 0;
      if (!ReadFixed(column, SQL_C_DOUBLE, &v, sizeof v)) return out.AppendNull();
      return out.AppendDouble(v);
    }
    case TOdbcReader::kDate: {
      SQL_DATE_STRUCT d{};
      if (!ReadFixed(column, SQL_C_TYPE_DATE, &d, sizeof d) || !IsCalendarDate(d.month, d.day))
        return out.AppendNull();
      return out.AppendDouble(OdbcDateTime(d.year, d.month, d.day, 0, 0, 0, 0));
    }
    case TOdbcReader::kTimeStamp: {
      SQL_TIMESTAMP_STRUCT t{};
      if (!ReadFixed(column, SQL_C_TYPE_TIMESTAMP, &t, sizeof t) || !IsCalendarDate(t.month, t.day))
        return out.AppendNull();
      return out.AppendDouble(
          OdbcDateTime(t.year, t.month, t.day, t.hour, t.minute, t.second, t.fraction));
    }
    case TOdbcReader::kBytes: {
      std::string bytes;
      if (!ReadLong(column, SQL_C_BINARY, bytes)) return out.AppendNull();
      return out.AppendBytes(bytes);
    }
    case TOdbcReader::kTime: {
      bool is_null = false;
      const std::string text = TextOf(column, false, is_null);
      if (is_null) return out.AppendNull();
      double d = 0;
      if (!ParseDateTimeText(text, d)) {
        throw EFDException(fmt::format("Cannot convert value '{}' of column [{}] to ftTime", text,
                                       columns_[column - 1].Name));
      }
      return out.AppendDouble(d);
    }
    case TOdbcReader::kGuid: {
      bool is_null = false;
      const std::string text = TextOf(column, false, is_null);
      if (is_null) return out.AppendNull();
      std::array<char, 38> guid;
      return out.AppendText(CanonicalGuidText(text, guid) ? std::string_view(guid.data(), 38)
                                                          : std::string_view(text));
    }
    case TOdbcReader::kDecimal:
    case TOdbcReader::kText: {
      bool is_null = false;
      const std::string text = TextOf(column, c.wide, is_null);
      if (is_null) return out.AppendNull();
      return out.AppendText(text);
    }
  }
}

}  // namespace velmora
