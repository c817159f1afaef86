#include "db/sqlite/sqlite_command.h"

#include <fmt/core.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "data/field_family.h"
#include "data/params.h"
#include "db/core/db_error.h"
#include "db/core/guid_text.h"
#include "db/core/iso_date.h"
#include "db/core/lifting_switch.h"
#include "db/core/sql_dialects.h"
#include "db/sqlite/sqlite_connection.h"
#include "db/sqlite/sqlite_session_change.h"
#include "db/sqlite/sqlite_types.h"
#include "variant/date_time_text.h"
#include "variant/ole_date.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

using Reader = TSQLiteCommand::Reader;

struct ReaderChoice {
  Reader reader;
  int64_t min = INT64_MIN;
  int64_t max = INT64_MAX;
};

ReaderChoice ReaderFor(TFieldType type) {
  switch (FieldFamilyOf(type)) {
    case TFieldFamily::kInteger: {
      const TIntegerRange range = IntegerRangeOf(type);
      return {Reader::kInteger, range.min, range.max};
    }
    case TFieldFamily::kBoolean:
      return {Reader::kBoolean};
    case TFieldFamily::kFloat:
      return {Reader::kFloat};
    case TFieldFamily::kDecimal:
      return {type == ftCurrency ? Reader::kCurrency : Reader::kBcd};
    case TFieldFamily::kDateTime:
      return {Reader::kDate};
    case TFieldFamily::kBytes:
      return {Reader::kBytes};
    case TFieldFamily::kText:
      break;
    case TFieldFamily::kOther:
      if (type == ftGuid) return {Reader::kGuid};
      break;
  }
  return {Reader::kText};
}

bool ParseBooleanText(std::string_view text, bool& out) {
  for (std::string_view t : {"true", "t", "yes", "y", "on"}) {
    if (EqualsNoCase(text, t)) return out = true, true;
  }
  for (std::string_view f : {"false", "f", "no", "n", "off"}) {
    if (EqualsNoCase(text, f)) return out = false, true;
  }
  double d = 0;
  if (!ParseDouble(text, d)) return false;
  out = d != 0;
  return true;
}

std::string_view ColumnText(sqlite3_stmt* stmt, int i) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
  return {p != nullptr ? p : "", static_cast<size_t>(sqlite3_column_bytes(stmt, i))};
}

void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
  sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// Binds one parameter value, by the parameter's data type first and the value's kind second.
int BindParam(sqlite3_stmt* stmt, int index, const TParam* param) {
  if (param == nullptr || param->IsNull()) return sqlite3_bind_null(stmt, index);
  const OleVariant& v = param->Value();
  switch (FieldFamilyOf(param->DataType)) {
    case TFieldFamily::kDateTime:
      BindText(stmt, index, IsoDateParamText(param->DataType, v));
      return SQLITE_OK;
    case TFieldFamily::kBoolean:
      return sqlite3_bind_int64(stmt, index, v.AsBoolean() ? 1 : 0);
    default:
      break;
  }
  if (v.IsByteArray()) {
    const auto& bytes = v.ByteData().bytes;
    // An empty vector may have no storage, and SQLite binds a null pointer as NULL: an empty
    // value would come back as NULL.
    if (bytes.empty()) return sqlite3_bind_zeroblob(stmt, index, 0);
    return sqlite3_bind_blob64(stmt, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  }
  if (v.VarType() == varBoolean) return sqlite3_bind_int64(stmt, index, v.AsBoolean() ? 1 : 0);
  if (v.IsOrdinal()) {
    if (v.VarType() == varUInt64 && v.RawUnsigned() > static_cast<uint64_t>(INT64_MAX)) {
      return sqlite3_bind_double(stmt, index, static_cast<double>(v.RawUnsigned()));
    }
    return sqlite3_bind_int64(stmt, index, v.AsInt64());
  }
  if (v.IsFloat() || v.VarType() == varCurrency)
    return sqlite3_bind_double(stmt, index, v.AsDouble());
  if (v.VarType() == varDate) {
    BindText(stmt, index, FormatIsoDateTime(v.DateValue()));
    return SQLITE_OK;
  }
  BindText(stmt, index, v.AsString());
  return SQLITE_OK;
}

[[noreturn]] void ThrowNulInText(size_t offset) {
  throw EFDException(fmt::format(fmt::runtime(kNulInCommandTextMessage), offset));
}

}  // namespace

TSQLiteCommand::TSQLiteCommand(TSQLiteConnection& connection, std::string sql)
    : connection_(connection), db_(connection.Handle()), sql_(std::move(sql)), tail_(sql_.c_str()) {
  if (const size_t nul = sql_.find('\0'); nul != std::string::npos) ThrowNulInText(nul);
  if (LiteralLiftingOn() && LiftLiterals(sql_, kSQLiteSqlDialect, lifted_)) {
    original_ = std::exchange(sql_, std::move(lifted_.sql));
    tail_ = sql_.c_str();
  }
}

void TSQLiteCommand::DropLifting() {
  sql_ = std::move(original_);
  original_.clear();
  lifted_ = {};
  tail_ = sql_.c_str();
}

TSQLiteCommand::~TSQLiteCommand() {
  Release();
}

void TSQLiteCommand::SetParams(std::span<TParam* const> markers) {
  markers_.assign(markers.begin(), markers.end());
}

void TSQLiteCommand::Release() {
  row_ready_ = false;
  if (stmt_ == nullptr) return;
  if (single_ && done_) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    // What the cache cannot keep comes back and is finalised here.
    connection_.Statements().Put(sql_, std::move(statement_));
    statement_.Finalize();
  } else {
    statement_.Finalize();
  }
  done_ = false;
}

void TSQLiteCommand::Rewind() {
  sqlite3_reset(stmt_);
  done_ = false;
  row_ready_ = false;
}

bool TSQLiteCommand::TakeCached() {
  std::optional<TSQLiteStatement> cached = connection_.Statements().Take(sql_);
  if (!cached) return false;
  statement_ = std::move(*cached);
  single_ = true;
  tail_ = sql_.c_str() + sql_.size();
  return true;
}

bool TSQLiteCommand::PrepareNext() {
  Release();
  const char* end = sql_.c_str() + sql_.size();  // moves when the lifting is dropped
  if (tail_ == sql_.c_str() && TakeCached()) {
    BindMarkers();
    connection_.BeginStatement(stmt_);
    total_changes_before_ = sqlite3_total_changes64(db_);
    return true;
  }
  const bool first = tail_ == sql_.c_str();
  while (tail_ < end) {
    const char* next = nullptr;
    const int rc = sqlite3_prepare_v2(db_, tail_, static_cast<int>(end - tail_), &stmt_, &next);
    if (rc != SQLITE_OK && !original_.empty()) {
      DropLifting();
      end = sql_.c_str() + sql_.size();
      continue;
    }
    if (rc != SQLITE_OK) connection_.Fail(rc);
    // The engine stops reading at a NUL and moves nowhere: never prepare the same place twice.
    if (next == nullptr || next <= tail_) {
      statement_.Finalize();
      if (*tail_ == '\0') ThrowNulInText(static_cast<size_t>(tail_ - sql_.c_str()));
      throw EFDException(
          "Command text cannot be read past this point: " +
          std::string(tail_, std::min<size_t>(static_cast<size_t>(end - tail_), 40)));
    }
    if (stmt_ != nullptr &&
        ChangesSQLiteSession(std::string_view(tail_, static_cast<size_t>(next - tail_)),
                             kSQLiteSqlDialect)) {
      connection_.NoteSessionChange();
    }
    tail_ = next;
    if (stmt_ == nullptr) continue;  // blanks or comments only
    single_ = first && (*tail_ == '\0' || TailIsBlank());
    BindMarkers();
    connection_.BeginStatement(stmt_);
    total_changes_before_ = sqlite3_total_changes64(db_);
    return true;
  }
  return false;
}

void TSQLiteCommand::BindMarkers() {
  const int count = sqlite3_bind_parameter_count(stmt_);
  size_t marker = 0;  // of the text's "?" markers
  for (int k = 1; k <= count; ++k) {
    if (sqlite3_bind_parameter_name(stmt_, k) != nullptr) continue;  // the engine's own markers
    if (marker < lifted_.markers.size() && lifted_.markers[marker++] >= 0) {
      const TLiftedValue& v = lifted_.values[static_cast<size_t>(lifted_.markers[marker - 1])];
      const int lrc = v.is_text ? sqlite3_bind_text64(stmt_, k, v.text.data(), v.text.size(),
                                                      SQLITE_STATIC, SQLITE_UTF8)
                                : sqlite3_bind_int64(stmt_, k, v.integer);
      if (lrc != SQLITE_OK) connection_.Fail(lrc);
      continue;
    }
    const TParam* param = marker_offset_ < markers_.size() ? markers_[marker_offset_] : nullptr;
    ++marker_offset_;
    const int brc = BindParam(stmt_, k, param);
    if (brc != SQLITE_OK) connection_.Fail(brc);
  }
}

bool TSQLiteCommand::TailIsBlank() const {
  sqlite3_stmt* probe = nullptr;
  const int rc = sqlite3_prepare_v2(db_, tail_, -1, &probe, nullptr);
  const bool blank = rc == SQLITE_OK && probe == nullptr;
  sqlite3_finalize(probe);
  return blank;
}

bool TSQLiteCommand::Step() {
  // Stepped again after its end, the engine would start the statement over.
  if (done_) return false;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) connection_.Fail(rc);
  done_ = true;
  // Only a statement that changed rows moves the engine's total; DDL and SELECT add nothing.
  if (sqlite3_total_changes64(db_) != total_changes_before_)
    rows_affected_ += sqlite3_changes64(db_);
  total_changes_before_ = sqlite3_total_changes64(db_);
  return false;
}

void TSQLiteCommand::RunToEnd() {
  while (Step()) {
  }
}

void TSQLiteCommand::Execute() {
  kept_ = false;
  while (PrepareNext()) {
    RunToEnd();
    // The only statement of the text stays prepared for ExecuteAgain (reset: it holds no lock).
    if (single_) {
      sqlite3_reset(stmt_);
      kept_ = true;
      return;
    }
  }
  Release();
}

bool TSQLiteCommand::ExecuteAgain() {
  if (!kept_ || stmt_ == nullptr) return false;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  marker_offset_ = 0;
  rows_affected_ = 0;
  done_ = false;
  BindMarkers();
  connection_.BeginStatement(stmt_, true);
  total_changes_before_ = sqlite3_total_changes64(db_);
  try {
    RunToEnd();
  } catch (...) {
    Rewind();
    throw;
  }
  sqlite3_reset(stmt_);
  return true;
}

bool TSQLiteCommand::Open() {
  while (PrepareNext()) {
    if (sqlite3_column_count(stmt_) > 0) {
      row_ready_ = Step();
      // A kept description holds while the engine has not re-prepared the statement since.
      if (!statement_.described || statement_.Reprepares() != statement_.reprepares) Describe();
      return true;
    }
    if (single_ || TailIsBlank()) break;
    RunToEnd();
  }
  Release();
  return false;
}

void TSQLiteCommand::Describe() {
  TFieldDefs& columns = statement_.columns;
  columns.Clear();
  statement_.readers.clear();
  const int count = sqlite3_column_count(stmt_);
  for (int i = 0; i < count; ++i) {
    TFieldDef def;
    const char* name = sqlite3_column_name(stmt_, i);
    def.Name = name != nullptr ? name : fmt::format("COLUMN{}", i + 1);
    const char* declared = sqlite3_column_decltype(stmt_, i);
    const TSQLiteColumnType type = MapSQLiteDeclaredType(declared != nullptr ? declared : "");
    def.DataType = type.type;
    def.Size = type.size;
    def.Precision = type.precision;
    def.Scale = type.scale;
    const char* table = sqlite3_column_table_name(stmt_, i);
    const char* origin = sqlite3_column_origin_name(stmt_, i);
    if (table != nullptr && origin != nullptr) {
      def.OriginTable = table;
      def.OriginColumn = origin;
      int not_null = 0, primary_key = 0, auto_inc = 0;
      if (sqlite3_table_column_metadata(db_, sqlite3_column_database_name(stmt_, i), table, origin,
                                        nullptr, nullptr, &not_null, &primary_key,
                                        &auto_inc) == SQLITE_OK) {
        def.Required = not_null != 0;
        def.InKey = primary_key != 0;
        def.AutoInc = auto_inc != 0;
      }
    } else {
      def.ReadOnly = true;  // an expression: nothing to write back to
    }
    columns.Add(std::move(def));
  }
  statement_.described = !InferExpressionTypes();
  statement_.reprepares = statement_.Reprepares();
  for (const TFieldDef& def : columns) {
    const ReaderChoice c = ReaderFor(def.DataType);
    statement_.readers.push_back({c.reader, c.min, c.max});
  }
}

// Columns without a declared type take their type from their values. A read-only statement is
// scanned in full first (then run again for the rows), so the type fits every value; a statement
// with side effects is not run twice, and its first row decides. Returns whether any column's
// type was inferred.
bool TSQLiteCommand::InferExpressionTypes() {
  TFieldDefs& columns = statement_.columns;
  struct Seen {
    int index;
    bool integer = false, real = false, text = false, blob = false;
    size_t max_chars = 0;
  };
  std::vector<Seen> seen;
  for (int i = 0; i < columns.Count(); ++i) {
    if (columns[i].DataType == ftUnknown) seen.push_back({i});
  }
  if (seen.empty()) return false;
  const bool rescan = sqlite3_stmt_readonly(stmt_) != 0;
  const auto look = [this, &seen, rescan] {
    for (Seen& s : seen) {
      switch (sqlite3_column_type(stmt_, s.index)) {
        case SQLITE_INTEGER:
          s.integer = true;
          break;
        case SQLITE_FLOAT:
          s.real = true;
          break;
        case SQLITE_BLOB:
          s.blob = true;
          break;
        case SQLITE_TEXT: {
          s.text = true;
          if (!rescan) break;
          s.max_chars = std::max(s.max_chars, CodePointCount(ColumnText(stmt_, s.index)));
          break;
        }
        default:
          break;
      }
    }
  };
  // Open has stepped the first row already.
  if (rescan) {
    if (row_ready_) {
      look();
      while (Step()) look();
    }
    Rewind();
  } else if (row_ready_) {
    look();
  }
  constexpr size_t kMaxStringChars = 4000;
  for (const Seen& s : seen) {
    TFieldDef& def = columns[s.index];
    if (s.blob) {
      def.DataType = ftBlob;
    } else if (s.text) {
      const bool sized = rescan && s.max_chars <= kMaxStringChars;
      def.DataType = sized ? ftWideString : ftWideMemo;
      def.Size = sized ? static_cast<int32_t>(std::max<size_t>(s.max_chars, 1)) : 0;
    } else if (s.real) {
      def.DataType = ftFloat;
    } else if (s.integer) {
      def.DataType = ftLargeint;
    } else {
      def.DataType = ftWideMemo;  // only NULLs: text takes whatever a later row may hold
    }
  }
  return true;
}

void TSQLiteCommand::FetchAll(TDataSet& out) {
  if (stmt_ != nullptr) {
    if (row_ready_) {
      row_ready_ = false;
      ReadRow(out);
    }
    while (Step()) ReadRow(out);
  }
  while (PrepareNext()) RunToEnd();
  Release();
}

void TSQLiteCommand::ReadRow(TDataSet& out) {
  RecordAppender& row = out.BeginAppend();
  try {
    const int count = static_cast<int>(statement_.readers.size());
    for (int i = 0; i < count; ++i) ReadValue(row, i);
  } catch (...) {
    out.CancelAppend();
    throw;
  }
  out.EndAppend();
}

void TSQLiteCommand::ReadValue(RecordAppender& out, int i) {
  const int type = sqlite3_column_type(stmt_, i);
  if (type == SQLITE_NULL) return out.AppendNull();
  const TSQLiteColumnReader& c = statement_.readers[static_cast<size_t>(i)];
  switch (c.reader) {
    case Reader::kText:
      return out.AppendText(ColumnText(stmt_, i));
    case Reader::kGuid: {
      const std::string_view text = ColumnText(stmt_, i);
      std::array<char, 38> guid;
      return out.AppendText(CanonicalGuidText(text, guid) ? std::string_view(guid.data(), 38)
                                                          : text);
    }
    case Reader::kBytes: {
      const void* p = sqlite3_column_blob(stmt_, i);
      const auto n = static_cast<size_t>(sqlite3_column_bytes(stmt_, i));
      return out.AppendBytes({static_cast<const char*>(p), p != nullptr ? n : 0});
    }
    case Reader::kInteger: {
      int64_t v = 0;
      if (type == SQLITE_INTEGER) {
        v = sqlite3_column_int64(stmt_, i);
      } else if (type != SQLITE_TEXT || !ParseInteger(ColumnText(stmt_, i), v)) {
        double d = 0;
        if (type == SQLITE_FLOAT) {
          d = sqlite3_column_double(stmt_, i);
        } else if (type != SQLITE_TEXT || !ParseDouble(ColumnText(stmt_, i), d)) {
          ThrowConversion(i);
        }
        if (d != std::trunc(d) || !(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)) {
          ThrowConversion(i);
        }
        v = static_cast<int64_t>(d);
      }
      if (v < c.min || v > c.max) ThrowConversion(i);
      return out.AppendInt64(v);
    }
    case Reader::kBoolean: {
      if (type == SQLITE_INTEGER) return out.AppendInt64(sqlite3_column_int64(stmt_, i) != 0);
      if (type == SQLITE_FLOAT) return out.AppendInt64(sqlite3_column_double(stmt_, i) != 0);
      bool b = false;
      if (!ParseBooleanText(ColumnText(stmt_, i), b)) ThrowConversion(i);
      return out.AppendInt64(b ? 1 : 0);
    }
    case Reader::kFloat:
    case Reader::kCurrency: {
      if (type == SQLITE_INTEGER || type == SQLITE_FLOAT)
        return out.AppendDouble(sqlite3_column_double(stmt_, i));
      double d = 0;
      if (!ParseDouble(ColumnText(stmt_, i), d)) ThrowConversion(i);
      return out.AppendDouble(d);
    }
    case Reader::kBcd: {
      if (type == SQLITE_INTEGER)
        return out.AppendText(fmt::format("{}", sqlite3_column_int64(stmt_, i)));
      if (type == SQLITE_FLOAT) {
        const std::string text = FormatDecimal(sqlite3_column_double(stmt_, i));
        if (text.empty()) ThrowConversion(i);  // infinity or NaN is no decimal
        return out.AppendText(text);
      }
      double d = 0;
      const std::string_view text = ColumnText(stmt_, i);
      if (!ParseDouble(text, d)) ThrowConversion(i);
      return out.AppendText(text);
    }
    case Reader::kDate: {
      if (type == SQLITE_INTEGER || type == SQLITE_FLOAT)
        return out.AppendDouble(sqlite3_column_double(stmt_, i));
      double d = 0;
      if (!ParseDateTimeText(ColumnText(stmt_, i), d)) ThrowConversion(i);
      return out.AppendDouble(d);
    }
  }
}

void TSQLiteCommand::ThrowConversion(int i) const {
  std::string_view text = ColumnText(stmt_, i);
  if (text.size() > 64) text = text.substr(0, 64);
  throw EFDException(fmt::format("Cannot convert value '{}' of column [{}] to {}", text,
                                 statement_.columns[i].Name,
                                 FieldTypeName(statement_.columns[i].DataType)));
}

}  // namespace velmora
