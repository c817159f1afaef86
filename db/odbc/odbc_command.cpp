#include "db/odbc/odbc_command.h"

#include <fmt/core.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "data/dataset_values.h"
#include "data/params.h"
#include "db/db_error.h"
#include "db/odbc/odbc_connection.h"
#include "variant/date_time_text.h"
#include "variant/ole_date.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

// How a parameter value is bound.
enum class TBindKind {
  kInteger,
  kBoolean,
  kFloat,
  kDecimal,
  kDate,
  kTime,
  kTimeStamp,
  kBytes,
  kText
};

TBindKind KindOfFieldType(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
    case ftLongWord:
    case ftShortint:
    case ftByte:
      return TBindKind::kInteger;
    case ftBoolean:
      return TBindKind::kBoolean;
    case ftFloat:
    case ftSingle:
    case ftExtended:
      return TBindKind::kFloat;
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
      return TBindKind::kDecimal;
    case ftDate:
      return TBindKind::kDate;
    case ftTime:
      return TBindKind::kTime;
    case ftDateTime:
    case ftTimeStamp:
      return TBindKind::kTimeStamp;
    case ftBlob:
    case ftBytes:
    case ftVarBytes:
    case ftGraphic:
    case ftTypedBinary:
    case ftOraBlob:
      return TBindKind::kBytes;
    default:
      return TBindKind::kText;
  }
}

TBindKind KindOfValue(const OleVariant& v) {
  if (v.VarType() == varBoolean) return TBindKind::kBoolean;
  if (v.IsOrdinal()) return TBindKind::kInteger;
  if (v.IsFloat()) return TBindKind::kFloat;
  if (v.VarType() == varCurrency || v.VarType() == varFMTBcd) return TBindKind::kDecimal;
  if (v.VarType() == varDate || v.VarType() == varSQLTimeStamp) return TBindKind::kTimeStamp;
  if (v.IsByteArray()) return TBindKind::kBytes;
  return TBindKind::kText;
}

SQLSMALLINT IntegerSqlType(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftShortint:
    case ftByte:
      return SQL_SMALLINT;
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return SQL_INTEGER;
    default:
      return SQL_BIGINT;
  }
}

// The date-time value of a parameter: a time stamp as it is, text read by the date rule, any
// other value as the day count.
double DateValueOf(const OleVariant& v) {
  if (v.VarType() == varSQLTimeStamp) {
    const SqlTimeStamp& t = v.TimeStamp();
    return EncodeDateTime(
        {t.year, t.month, t.day, t.hour, t.minute, t.second, static_cast<int>(t.fraction)});
  }
  if (v.IsText()) {
    double d = 0;
    if (ParseDateTimeText(v.Text(), d)) return d;
  }
  return v.AsDouble();
}

// A date-time value from its parts; the fraction (nanoseconds) rounded to the millisecond.
double DateTimeOf(int year, int month, int day, int hour, int minute, int second,
                  SQLUINTEGER fraction) {
  const double whole = EncodeDateTime({year, month, day, hour, minute, second, 0});
  const double ms = std::round(fraction / 1e6);
  return whole + (whole < 0 ? -ms : ms) / 86400000.0;
}

// MDB Tools gives "day 0 of January 1900" for Access dates it cannot convert (before 1900, far in
// the future): no date at all, read as NULL rather than as a wrong day.
bool IsCalendarDate(SQLUSMALLINT month, SQLUSMALLINT day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

template <typename T>
void PutValue(std::string& buffer, const T& value) {
  buffer.assign(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T GetValue(const std::string& buffer) {
  T value{};
  std::memcpy(&value, buffer.data(), std::min(sizeof value, buffer.size()));
  return value;
}

constexpr SQLLEN kOutputTextChars = 4000;
constexpr size_t kLongText = 4000;  // longer text binds as the long variable type
constexpr size_t kChunkBytes = 16384;

}  // namespace

TOdbcCommand::TOdbcCommand(TOdbcConnection& connection, std::string sql)
    : connection_(connection), api_(connection.Api()) {
  if (const size_t nul = sql.find('\0'); nul != std::string::npos)
    throw EFDException(fmt::format(fmt::runtime(kNulInCommandTextMessage), nul));
  if (connection.TakesBatches()) {
    statements_.push_back({std::move(sql), -1});
  } else {
    statements_ = SplitOdbcStatements(sql);
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
      if (q != nullptr && EqualsNoCase(q->Name, p->Name)) return q;
    }
    return p;
  };
  const auto direction_of = [](TParamType kind) -> SQLSMALLINT {
    switch (kind) {
      case ptOutput:
      case ptResult:
        return SQL_PARAM_OUTPUT;
      case ptInputOutput:
        return SQL_PARAM_INPUT_OUTPUT;
      default:
        return SQL_PARAM_INPUT;
    }
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
    markers.push_back({p, target_of(p), direction_of(p->ParamType)});
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
  for (TParam* p : markers) {
    SQLSMALLINT direction = SQL_PARAM_INPUT;
    if (p != nullptr && (p->ParamType == ptOutput || p->ParamType == ptResult))
      direction = SQL_PARAM_OUTPUT;
    if (p != nullptr && p->ParamType == ptInputOutput) direction = SQL_PARAM_INPUT_OUTPUT;
    markers_.push_back({p, p, direction});
  }
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
  Bound& b = bound_.emplace_back();
  b.marker = marker;
  const TParam* p = marker.param;
  const bool input = marker.direction != SQL_PARAM_OUTPUT;
  const bool output = marker.direction != SQL_PARAM_INPUT;
  const bool is_null = p == nullptr || !input || p->IsNull();
  const OleVariant empty;
  const OleVariant& v = p != nullptr ? p->Value() : empty;
  TBindKind kind = TBindKind::kText;
  if (p != nullptr && p->DataType != ftUnknown) {
    kind = KindOfFieldType(p->DataType);
  } else if (!is_null) {
    kind = KindOfValue(v);
  }
  SQLSMALLINT sql_type = SQL_VARCHAR;
  SQLULEN column_size = 0;
  SQLSMALLINT digits = 0;
  SQLLEN length = -1;  // bytes of a variable-length input value
  switch (kind) {
    case TBindKind::kInteger:
      b.c_type = SQL_C_SBIGINT;
      sql_type = p != nullptr && p->DataType != ftUnknown ? IntegerSqlType(p->DataType)
                 : (!is_null && v.AsInt64() >= INT32_MIN && v.AsInt64() <= INT32_MAX) ? SQL_INTEGER
                                                                                      : SQL_BIGINT;
      PutValue<SQLBIGINT>(b.buffer, is_null ? 0 : v.AsInt64());
      break;
    case TBindKind::kBoolean:
      b.c_type = SQL_C_BIT;
      sql_type = SQL_BIT;
      PutValue<unsigned char>(b.buffer, !is_null && v.AsBoolean() ? 1 : 0);
      break;
    case TBindKind::kFloat:
      b.c_type = SQL_C_DOUBLE;
      sql_type = SQL_DOUBLE;
      PutValue<double>(b.buffer, is_null ? 0.0 : v.AsDouble());
      break;
    case TBindKind::kDecimal: {
      b.c_type = SQL_C_CHAR;
      sql_type = SQL_DECIMAL;
      std::string text = is_null ? std::string() : v.AsString();
      std::string normalized;
      if (!is_null && NormalizeDecimalText(text, normalized)) text = std::move(normalized);
      const size_t dot = text.find('.');
      digits = static_cast<SQLSMALLINT>(dot == std::string::npos ? 0 : text.size() - dot - 1);
      if (p != nullptr && p->NumericScale > digits)
        digits = static_cast<SQLSMALLINT>(p->NumericScale);
      column_size = std::max<SQLULEN>({static_cast<SQLULEN>(p != nullptr ? p->Precision : 0),
                                       text.size(), static_cast<SQLULEN>(digits) + 1, 18});
      b.buffer = std::move(text);
      length = static_cast<SQLLEN>(b.buffer.size());
      if (output) b.buffer.resize(std::max<size_t>(b.buffer.size(), 64) + 1, '\0');
      break;
    }
    case TBindKind::kDate: {
      b.c_type = SQL_C_TYPE_DATE;
      sql_type = SQL_TYPE_DATE;
      column_size = 10;
      const DateTimeParts t = DecodeDateTime(is_null ? 0.0 : DateValueOf(v));
      SQL_DATE_STRUCT d{static_cast<SQLSMALLINT>(t.year), static_cast<SQLUSMALLINT>(t.month),
                        static_cast<SQLUSMALLINT>(t.day)};
      PutValue(b.buffer, d);
      break;
    }
    case TBindKind::kTime: {
      b.c_type = SQL_C_TYPE_TIME;
      sql_type = SQL_TYPE_TIME;
      column_size = 8;
      const DateTimeParts t = DecodeDateTime(is_null ? 0.0 : DateValueOf(v));
      SQL_TIME_STRUCT d{static_cast<SQLUSMALLINT>(t.hour), static_cast<SQLUSMALLINT>(t.minute),
                        static_cast<SQLUSMALLINT>(t.second)};
      PutValue(b.buffer, d);
      break;
    }
    case TBindKind::kTimeStamp: {
      b.c_type = SQL_C_TYPE_TIMESTAMP;
      sql_type = SQL_TYPE_TIMESTAMP;
      column_size = 23;
      digits = 3;
      const DateTimeParts t = DecodeDateTime(is_null ? 0.0 : DateValueOf(v));
      SQL_TIMESTAMP_STRUCT d{static_cast<SQLSMALLINT>(t.year),
                             static_cast<SQLUSMALLINT>(t.month),
                             static_cast<SQLUSMALLINT>(t.day),
                             static_cast<SQLUSMALLINT>(t.hour),
                             static_cast<SQLUSMALLINT>(t.minute),
                             static_cast<SQLUSMALLINT>(t.second),
                             static_cast<SQLUINTEGER>(t.millisecond) * 1000000u};
      PutValue(b.buffer, d);
      break;
    }
    case TBindKind::kBytes: {
      b.c_type = SQL_C_BINARY;
      if (!is_null) {
        if (v.IsByteArray()) {
          const auto& bytes = v.ByteData().bytes;
          b.buffer.assign(bytes.begin(), bytes.end());
        } else {
          b.buffer = v.AsString();
        }
      }
      length = static_cast<SQLLEN>(b.buffer.size());
      sql_type = b.buffer.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
      column_size = std::max<SQLULEN>(b.buffer.size(), 1);
      if (output) b.buffer.resize(std::max<size_t>(b.buffer.size(), 8000));
      break;
    }
    case TBindKind::kText: {
      const std::string text = is_null ? std::string() : v.AsString();
      // ASCII goes as it is; other text as UTF-16, which every Unicode driver takes whatever
      // the client's locale (SQL_C_CHAR would be read in the locale's character set).
      const bool wide = output || !IsAscii(text);
      const size_t chars = wide ? CodePointCount(text) : text.size();
      if (wide) {
        const std::u16string utf16 = Utf8ToUtf16(text);
        b.buffer.assign(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
        b.c_type = SQL_C_WCHAR;
        sql_type = chars > kLongText ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
      } else {
        b.buffer = text;
        b.c_type = SQL_C_CHAR;
        sql_type = chars > kLongText ? SQL_LONGVARCHAR : SQL_VARCHAR;
      }
      length = static_cast<SQLLEN>(b.buffer.size());
      column_size = std::max<size_t>(chars, 1);
      if (output) {
        const size_t capacity = std::max<size_t>(
            p != nullptr && p->Size > 0 ? static_cast<size_t>(p->Size) : 0, kOutputTextChars);
        column_size = std::max<SQLULEN>(column_size, capacity);
        b.buffer.resize(std::max(b.buffer.size(), (capacity + 1) * 2), '\0');
      }
      break;
    }
  }
  if (length < 0) length = static_cast<SQLLEN>(b.buffer.size());  // a fixed-size value
  b.indicator = is_null ? SQL_NULL_DATA : length;
  if (b.buffer.empty()) b.buffer.resize(2, '\0');
  const SQLRETURN rc =
      api_.SQLBindParameter(stmt_, index, marker.direction, b.c_type, sql_type, column_size, digits,
                            b.buffer.data(), static_cast<SQLLEN>(b.buffer.size()), &b.indicator);
  if (!SQL_SUCCEEDED(rc)) connection_.FailStatement(stmt_, rc);
}

void TOdbcCommand::ReadOutputs() {
  for (Bound& b : bound_) {
    if (b.marker.direction == SQL_PARAM_INPUT || b.marker.target == nullptr) continue;
    TParam& target = *b.marker.target;
    if (b.indicator == SQL_NULL_DATA) {
      target.SetValue(OleVariant::Null());
      continue;
    }
    const size_t length = b.indicator < 0
                              ? b.buffer.size()
                              : std::min(b.buffer.size(), static_cast<size_t>(b.indicator));
    switch (b.c_type) {
      case SQL_C_SBIGINT:
        target.SetValue(OleVariant(static_cast<int64_t>(GetValue<SQLBIGINT>(b.buffer))));
        break;
      case SQL_C_BIT:
        target.SetValue(OleVariant(GetValue<unsigned char>(b.buffer) != 0));
        break;
      case SQL_C_DOUBLE:
        target.SetValue(OleVariant(GetValue<double>(b.buffer)));
        break;
      case SQL_C_TYPE_DATE: {
        const auto d = GetValue<SQL_DATE_STRUCT>(b.buffer);
        target.SetValue(OleVariant::Date(DateTimeOf(d.year, d.month, d.day, 0, 0, 0, 0)));
        break;
      }
      case SQL_C_TYPE_TIME: {
        const auto t = GetValue<SQL_TIME_STRUCT>(b.buffer);
        target.SetValue(OleVariant::Date(DateTimeOf(1899, 12, 30, t.hour, t.minute, t.second, 0)));
        break;
      }
      case SQL_C_TYPE_TIMESTAMP: {
        const auto t = GetValue<SQL_TIMESTAMP_STRUCT>(b.buffer);
        target.SetValue(OleVariant::Date(
            DateTimeOf(t.year, t.month, t.day, t.hour, t.minute, t.second, t.fraction)));
        break;
      }
      case SQL_C_BINARY:
        target.SetValue(OleVariant::Bytes(std::string_view(b.buffer.data(), length)));
        break;
      case SQL_C_WCHAR: {
        std::u16string utf16(length / 2, u'\0');
        std::memcpy(utf16.data(), b.buffer.data(), utf16.size() * 2);
        target.SetValue(OleVariant(Utf16ToUtf8(utf16)));
        break;
      }
      default: {  // decimal text
        const std::string text(b.buffer.data(), std::min(length, std::strlen(b.buffer.c_str())));
        if (target.DataType == ftCurrency) {
          double d = 0;
          if (ParseDouble(text, d)) {
            target.SetValue(OleVariant::Currency(std::llround(d * 10000.0)));
            break;
          }
        }
        BcdValue bcd;
        if (!NormalizeDecimalText(text, bcd.text)) bcd.text = text;
        const size_t dot = bcd.text.find('.');
        bcd.scale = static_cast<uint8_t>(dot == std::string::npos ? 0 : bcd.text.size() - dot - 1);
        bcd.precision = static_cast<uint8_t>(std::count_if(
            bcd.text.begin(), bcd.text.end(), [](char c) { return c >= '0' && c <= '9'; }));
        target.SetValue(OleVariant(std::move(bcd)));
        break;
      }
    }
  }
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
    const TOdbcColumnType type =
        MapOdbcColumnType(sql_type, size, digits, number_attribute(i, SQL_DESC_UNSIGNED) != 0,
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
      return out.AppendDouble(DateTimeOf(d.year, d.month, d.day, 0, 0, 0, 0));
    }
    case TOdbcReader::kTimeStamp: {
      SQL_TIMESTAMP_STRUCT t{};
      if (!ReadFixed(column, SQL_C_TYPE_TIMESTAMP, &t, sizeof t) || !IsCalendarDate(t.month, t.day))
        return out.AppendNull();
      return out.AppendDouble(
          DateTimeOf(t.year, t.month, t.day, t.hour, t.minute, t.second, t.fraction));
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
      std::string text = TextOf(column, false, is_null);
      if (is_null) return out.AppendNull();
      if (!text.empty() && text.front() != '{') text = "{" + text + "}";
      return out.AppendText(text);
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
