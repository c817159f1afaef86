#include "db/firebird/fb_command.h"

#include <fmt/core.h>

#include <cmath>
#include <cstring>

#include "data/params.h"
#include "db/core/db_error.h"
#include "db/core/text_encoding.h"
#include "db/firebird/fb_api.h"
#include "db/firebird/fb_connection.h"
#include "db/firebird/fb_statement_split.h"
#include "db/firebird/fb_types.h"
#include "variant/date_time_text.h"
#include "variant/ole_date.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

constexpr unsigned short kDialect = SQL_DIALECT_V6;
// Days from 1858-11-17 (Firebird's day 0) to 1899-12-30 (day 0 of date-time values).
constexpr int kFbDateOffset = 15018;
constexpr double kFbTimeUnitsPerDay = 864000000.0;  // 1/10000 s
constexpr size_t kMaxVaryingBytes = 32765;
constexpr unsigned short kBlobSegment = 32768 - 2;

template <typename T>
T Load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
void Store(char* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// "-12.345" for 12345 at scale 3.
std::string ScaledText(int64_t value, int scale) {
  const bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = fmt::format("{}", magnitude);
  if (digits.size() <= static_cast<size_t>(scale))
    digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
  digits.insert(digits.size() - static_cast<size_t>(scale), 1, '.');
  return negative ? "-" + digits : digits;
}

double DateValue(ISC_DATE date, ISC_TIME time) {
  const DateTimeParts day = DecodeDateTime(static_cast<double>(date - kFbDateOffset));
  DateTimeParts parts = day;
  parts.hour = static_cast<int>(time / 36000000u);
  parts.minute = static_cast<int>(time / 600000u % 60u);
  parts.second = static_cast<int>(time / 10000u % 60u);
  parts.millisecond = static_cast<int>(time / 10u % 1000u);
  return EncodeDateTime(parts);
}

void SplitDate(double value, ISC_DATE& date, ISC_TIME& time) {
  const DateTimeParts p = DecodeDateTime(value);
  date = static_cast<ISC_DATE>(DaysFromCivil(p.year, p.month, p.day) + kFbDateOffset);
  time = static_cast<ISC_TIME>(((p.hour * 60 + p.minute) * 60 + p.second) * 10000 +
                               p.millisecond * 10);
}

// Cuts CHAR padding beyond `chars` characters (a UTF-8 CHAR(n) arrives padded to 4n bytes).
std::string_view TrimFixed(std::string_view text, int chars) {
  size_t count = 0, i = 0;
  while (i < text.size() && count < static_cast<size_t>(chars)) {
    const auto c = static_cast<unsigned char>(text[i]);
    i += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    ++count;
  }
  if (i >= text.size()) return text;
  size_t end = text.size();
  while (end > i && text[end - 1] == ' ') --end;
  return text.substr(0, end);
}

struct AppendSink {
  RecordAppender& out;
  void Null() { out.AppendNull(); }
  void Integer(int64_t v, TFieldType) { out.AppendInt64(v); }
  void Boolean(bool v) { out.AppendInt64(v ? 1 : 0); }
  void Real(double v, bool) { out.AppendDouble(v); }
  void Decimal(std::string text, int, int) { out.AppendText(text); }
  void Date(double v) { out.AppendDouble(v); }
  void Text(std::string_view v) { out.AppendText(v); }
  void Bytes(std::string_view v) { out.AppendBytes(v); }
};

struct VariantSink {
  OleVariant value;
  void Null() { value = OleVariant::Null(); }
  void Integer(int64_t v, TFieldType type) {
    if (type == ftSmallint) {
      value = OleVariant(static_cast<int16_t>(v));
    } else if (type == ftInteger) {
      value = OleVariant(static_cast<int32_t>(v));
    } else {
      value = OleVariant(v);
    }
  }
  void Boolean(bool v) { value = OleVariant(v); }
  void Real(double v, bool single) {
    value = single ? OleVariant(static_cast<float>(v)) : OleVariant(v);
  }
  void Decimal(std::string text, int precision, int scale) {
    value = OleVariant(
        BcdValue{std::move(text), static_cast<uint8_t>(precision), static_cast<uint8_t>(scale)});
  }
  void Date(double v) { value = OleVariant::Date(v); }
  void Text(std::string_view v) { value = OleVariant(v); }
  void Bytes(std::string_view v) { value = OleVariant::Bytes(v); }
};

}  // namespace

TFbCommand::TFbCommand(TFbConnection& connection, std::string sql) : connection_(connection) {
  if (const size_t nul = sql.find('\0'); nul != std::string::npos)
    throw EFDException(fmt::format(fmt::runtime(kNulInCommandTextMessage), nul));
  statements_ = SplitFirebirdStatements(sql);
}

TFbCommand::~TFbCommand() {
  Abandon();
}

void TFbCommand::SetParams(std::span<TParam* const> markers) {
  markers_.assign(markers.begin(), markers.end());
}

void TFbCommand::Fail(const ISC_STATUS* status) {
  connection_.Fail(status);
}

void TFbCommand::Abandon() noexcept {
  const TFbApi& api = connection_.Api();
  ISC_STATUS_ARRAY status{};
  if (stmt_ != 0) api.isc_dsql_free_statement(status, &stmt_, DSQL_drop);
  stmt_ = 0;
  scope_.reset();
  singleton_ready_ = false;
  if (tr_ != nullptr) {
    tr_ = nullptr;
    try {
      connection_.EndStatement(false);
    } catch (...) {
      // A rollback that fails leaves nothing to do: the failure already being reported wins.
    }
  }
}

bool TFbCommand::PrepareNext() {
  if (next_ >= statements_.size()) return false;
  const std::string& sql = statements_[next_++];
  const TFbApi& api = connection_.Api();
  tr_ = connection_.BeginStatement();
  if (TStatementStop* stop = connection_.Stop(); stop != nullptr)
    scope_ = std::make_unique<TStatementWatch::Scope>(connection_.Watch(), *stop);
  ISC_STATUS_ARRAY status{};
  if (api.isc_dsql_allocate_statement(status, connection_.Db(), &stmt_) != 0) Fail(status);
  out_.Resize(8);
  if (api.isc_dsql_prepare(status, tr_, &stmt_, 0, sql.c_str(), kDialect, out_.Get()) != 0)
    Fail(status);
  if (out_.Count() > out_.Room()) {
    out_.Resize(out_.Count());
    if (api.isc_dsql_describe(status, &stmt_, kDialect, out_.Get()) != 0) Fail(status);
  }
  const char items[] = {isc_info_sql_stmt_type};
  char info[16] = {};
  if (api.isc_dsql_sql_info(status, &stmt_, sizeof items, items, sizeof info, info) != 0)
    Fail(status);
  stmt_type_ = info[0] == isc_info_sql_stmt_type
                   ? static_cast<int>(api.isc_vax_integer(
                         info + 3, static_cast<short>(api.isc_vax_integer(info + 1, 2))))
                   : 0;
  in_.Resize(8);
  if (api.isc_dsql_describe_bind(status, &stmt_, kDialect, in_.Get()) != 0) Fail(status);
  if (in_.Count() > in_.Room()) {
    in_.Resize(in_.Count());
    if (api.isc_dsql_describe_bind(status, &stmt_, kDialect, in_.Get()) != 0) Fail(status);
  }
  Bind();
  return true;
}

bool TFbCommand::ReturnsRows() const {
  return out_.Count() > 0 && (stmt_type_ == isc_info_sql_stmt_select ||
                              stmt_type_ == isc_info_sql_stmt_select_for_upd ||
                              stmt_type_ == isc_info_sql_stmt_exec_procedure);
}

void TFbCommand::RunCurrent() {
  const TFbApi& api = connection_.Api();
  ISC_STATUS_ARRAY status{};
  XSQLDA* in = in_.Count() > 0 ? in_.Get() : nullptr;
  if (stmt_type_ == isc_info_sql_stmt_exec_procedure && out_.Count() > 0) {
    // One row of outputs comes back with the call itself.
    out_.AllocateForOutput();
    if (api.isc_dsql_execute2(status, tr_, &stmt_, kDialect, in, out_.Get()) != 0) Fail(status);
    singleton_ready_ = true;
    ReadOutputs();
    return;
  }
  if (api.isc_dsql_execute(status, tr_, &stmt_, kDialect, in) != 0) Fail(status);
}

void TFbCommand::CountRows() {
  const TFbApi& api = connection_.Api();
  if (stmt_type_ != isc_info_sql_stmt_insert && stmt_type_ != isc_info_sql_stmt_update &&
      stmt_type_ != isc_info_sql_stmt_delete && stmt_type_ != isc_info_sql_stmt_exec_procedure)
    return;
  ISC_STATUS_ARRAY status{};
  const char items[] = {isc_info_sql_records};
  char info[64] = {};
  if (api.isc_dsql_sql_info(status, &stmt_, sizeof items, items, sizeof info, info) != 0) return;
  if (info[0] != isc_info_sql_records) return;
  const char* p = info + 3;
  const char* end = info + sizeof info;
  while (p < end && *p != isc_info_end) {
    const char item = *p++;
    const auto len = static_cast<short>(api.isc_vax_integer(p, 2));
    p += 2;
    const ISC_LONG count = api.isc_vax_integer(p, len);
    p += len;
    if (item == isc_info_req_insert_count || item == isc_info_req_update_count ||
        item == isc_info_req_delete_count)
      rows_affected_ += count;
  }
}

void TFbCommand::FinishCurrent(bool ok) {
  const TFbApi& api = connection_.Api();
  ISC_STATUS_ARRAY status{};
  CountRows();
  if (stmt_type_ == isc_info_sql_stmt_ddl) connection_.ForgetTableKeys();
  api.isc_dsql_free_statement(status, &stmt_, DSQL_drop);
  stmt_ = 0;
  scope_.reset();
  singleton_ready_ = false;
  tr_ = nullptr;
  connection_.EndStatement(ok);
}

void TFbCommand::Execute() {
  try {
    while (PrepareNext()) {
      RunCurrent();
      FinishCurrent(true);
    }
  } catch (...) {
    Abandon();
    throw;
  }
}

bool TFbCommand::Open() {
  try {
    while (PrepareNext()) {
      if (ReturnsRows()) {
        Describe();
        RunCurrent();
        return true;
      }
      if (next_ >= statements_.size()) {
        // The last statement returns no rows: it is not run.
        FinishCurrent(true);
        return false;
      }
      RunCurrent();
      FinishCurrent(true);
    }
    return false;
  } catch (...) {
    Abandon();
    throw;
  }
}

void TFbCommand::FetchAll(TDataSet& out) {
  try {
    if (stmt_ != 0) {
      if (singleton_ready_) {
        singleton_ready_ = false;
        ReadRow(out);
      } else if (stmt_type_ != isc_info_sql_stmt_exec_procedure) {
        const TFbApi& api = connection_.Api();
        ISC_STATUS_ARRAY status{};
        for (;;) {
          const ISC_STATUS rc = api.isc_dsql_fetch(status, &stmt_, kDialect, out_.Get());
          if (rc == 100) break;
          if (rc != 0) Fail(status);
          ReadRow(out);
        }
      }
      FinishCurrent(true);
    }
    while (PrepareNext()) {
      RunCurrent();
      FinishCurrent(true);
    }
  } catch (...) {
    Abandon();
    throw;
  }
}

void TFbCommand::Describe() {
  columns_.Clear();
  for (int i = 0; i < out_.Count(); ++i) {
    const XSQLVAR& var = out_.Var(i);
    TFieldDef def;
    def.Name = std::string(var.aliasname, static_cast<size_t>(var.aliasname_length));
    if (def.Name.empty()) def.Name = fmt::format("COLUMN{}", i + 1);
    MapFbColumnType(var, def);
    std::string table(var.relname, static_cast<size_t>(var.relname_length));
    std::string column(var.sqlname, static_cast<size_t>(var.sqlname_length));
    if (!table.empty() && !column.empty()) {
      const TFbTableKeys& keys = connection_.TableKeys(table, tr_);
      def.InKey = keys.key.contains(column);
      def.AutoInc = keys.identity.contains(column);
      def.Required = (var.sqltype & 1) == 0;
      def.OriginTable = std::move(table);
      def.OriginColumn = std::move(column);
    } else {
      def.ReadOnly = true;  // an expression: nothing to write back to
    }
    columns_.Add(std::move(def));
  }
  out_.AllocateForOutput();  // after reading nullability: it makes every variable nullable
}

void TFbCommand::ReadRow(TDataSet& out) {
  RecordAppender& row = out.BeginAppend();
  try {
    AppendSink sink{row};
    for (int i = 0; i < out_.Count(); ++i) ReadValue(i, sink);
  } catch (...) {
    out.CancelAppend();
    throw;
  }
  out.EndAppend();
}

void TFbCommand::ReadOutputs() {
  if (outputs_.empty()) return;
  TFieldDefs names;
  for (int i = 0; i < out_.Count(); ++i) {
    const XSQLVAR& var = out_.Var(i);
    names.Add(std::string(var.aliasname, static_cast<size_t>(var.aliasname_length)), ftUnknown);
  }
  for (TParam* param : outputs_) {
    const int index = names.IndexOf(param->Name);
    if (index < 0) continue;
    VariantSink sink;
    ReadValue(index, sink);
    param->SetValue(std::move(sink.value));
  }
}

template <typename Sink>
void TFbCommand::ReadValue(int i, Sink& sink) {
  const XSQLVAR& var = out_.Var(i);
  if ((var.sqltype & 1) != 0 && *var.sqlind < 0) return sink.Null();
  const char* data = var.sqldata;
  const int scale = -var.sqlscale;
  const auto integer = [&](int64_t v, TFieldType type, int precision) {
    if (scale > 0) return sink.Decimal(ScaledText(v, scale), precision, scale);
    sink.Integer(v, type);
  };
  const std::string& charset = connection_.TextCharset();
  const auto text = [&](std::string_view bytes) {
    if (charset.empty()) return sink.Text(bytes);
    const std::string utf8 = ConvertCharset(bytes, charset, "UTF-8");
    sink.Text(utf8);
  };
  switch (var.sqltype & ~1) {
    case SQL_SHORT:
      return integer(Load<int16_t>(data), ftSmallint, 4);
    case SQL_LONG:
      return integer(Load<int32_t>(data), ftInteger, 9);
    case SQL_INT64:
      return integer(Load<int64_t>(data), ftLargeint, 18);
    case SQL_FLOAT:
      return sink.Real(Load<float>(data), true);
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return sink.Real(Load<double>(data), false);
    case SQL_BOOLEAN:
      return sink.Boolean(Load<FB_BOOLEAN>(data) != 0);
    case SQL_TYPE_DATE:
      return sink.Date(static_cast<double>(Load<ISC_DATE>(data) - kFbDateOffset));
    case SQL_TYPE_TIME:
      return sink.Date(DateValue(kFbDateOffset, Load<ISC_TIME>(data)));
    case SQL_TIMESTAMP: {
      const auto ts = Load<ISC_TIMESTAMP>(data);
      return sink.Date(DateValue(ts.timestamp_date, ts.timestamp_time));
    }
    case SQL_TEXT: {
      const std::string_view bytes(data, static_cast<size_t>(var.sqllen));
      if ((var.sqlsubtype & 0xFF) == kFbCharsetOctets) return sink.Bytes(bytes);
      const int chars = var.sqllen / FbBytesPerCharacter(var.sqlsubtype & 0xFF);
      if (!charset.empty()) return text(bytes);
      return sink.Text(TrimFixed(bytes, chars));
    }
    case SQL_VARYING: {
      const std::string_view bytes(data + 2, Load<uint16_t>(data));
      if ((var.sqlsubtype & 0xFF) == kFbCharsetOctets) return sink.Bytes(bytes);
      return text(bytes);
    }
    case SQL_BLOB: {
      const std::string bytes = ReadBlob(Load<ISC_QUAD>(data));
      if (var.sqlsubtype == 1) return text(bytes);
      return sink.Bytes(bytes);
    }
    case SQL_NULL:
      return sink.Null();
    default:
      throw EFDException(fmt::format("Firebird type {} cannot be read", var.sqltype & ~1));
  }
}

std::string TFbCommand::ReadBlob(const ISC_QUAD& id) {
  const TFbApi& api = connection_.Api();
  ISC_STATUS_ARRAY status{};
  isc_blob_handle blob = 0;
  ISC_QUAD blob_id = id;
  if (api.isc_open_blob2(status, connection_.Db(), tr_, &blob, &blob_id, 0, nullptr) != 0)
    Fail(status);
  std::string bytes;
  char segment[kBlobSegment];
  for (;;) {
    unsigned short got = 0;
    const ISC_STATUS rc = api.isc_get_segment(status, &blob, &got, sizeof segment, segment);
    if (rc != 0 && rc != isc_segment) {
      if (rc == isc_segstr_eof) break;
      ISC_STATUS_ARRAY ignored{};
      api.isc_close_blob(ignored, &blob);
      Fail(status);
    }
    bytes.append(segment, got);
  }
  api.isc_close_blob(status, &blob);
  return bytes;
}

ISC_QUAD TFbCommand::WriteBlob(std::string_view bytes) {
  const TFbApi& api = connection_.Api();
  ISC_STATUS_ARRAY status{};
  isc_blob_handle blob = 0;
  ISC_QUAD id{};
  if (api.isc_create_blob2(status, connection_.Db(), tr_, &blob, &id, 0, nullptr) != 0)
    Fail(status);
  for (size_t at = 0; at < bytes.size(); at += kBlobSegment) {
    const size_t n = std::min<size_t>(kBlobSegment, bytes.size() - at);
    if (api.isc_put_segment(status, &blob, static_cast<unsigned short>(n), bytes.data() + at) !=
        0) {
      ISC_STATUS_ARRAY ignored{};
      api.isc_close_blob(ignored, &blob);
      Fail(status);
    }
  }
  if (api.isc_close_blob(status, &blob) != 0) Fail(status);
  return id;
}

// Binds each "?" of the statement: the value goes in the form the engine described where that is
// exact (numbers, dates, booleans, blobs), as text otherwise; the engine converts.
void TFbCommand::Bind() {
  const std::string& charset = connection_.TextCharset();
  for (int i = 0; i < in_.Count(); ++i) {
    XSQLVAR& var = in_.Var(i);
    const TParam* param = marker_offset_ < markers_.size() ? markers_[marker_offset_] : nullptr;
    ++marker_offset_;
    const int described = var.sqltype & ~1;
    const auto put_text = [&](std::string_view bytes, int charset_id) {
      if (bytes.size() > kMaxVaryingBytes) {
        throw EFDException(fmt::format(
            "Parameter {} holds {} bytes; a Firebird parameter that is not a BLOB takes at most {}",
            i + 1, bytes.size(), kMaxVaryingBytes));
      }
      var.sqltype = SQL_VARYING | 1;
      var.sqlsubtype = static_cast<ISC_SHORT>(charset_id);
      var.sqlscale = 0;
      var.sqllen = static_cast<ISC_SHORT>(bytes.size());
      char* b = in_.Buffer(i, bytes.size() + 2);
      Store<uint16_t>(b, static_cast<uint16_t>(bytes.size()));
      std::memcpy(b + 2, bytes.data(), bytes.size());
    };
    const auto put_fixed = [&](short type, short scale, size_t bytes) -> char* {
      var.sqltype = static_cast<ISC_SHORT>(type | 1);
      var.sqlscale = scale;
      var.sqlsubtype = 0;
      var.sqllen = static_cast<ISC_SHORT>(bytes);
      return in_.Buffer(i, bytes);
    };
    // Text in the connection's character set (127: the attachment's own).
    const auto put_string = [&](std::string_view utf8) {
      if (charset.empty()) return put_text(utf8, 127);
      put_text(ConvertCharset(utf8, "UTF-8", charset), 127);
    };
    if (param == nullptr || param->IsNull()) {
      var.sqltype = static_cast<ISC_SHORT>(described | 1);
      in_.Buffer(i, var.sqllen > 0 ? static_cast<size_t>(var.sqllen) + 2 : 8);
      *var.sqlind = -1;
      continue;
    }
    const OleVariant& v = param->Value();
    const bool date_param = param->DataType == ftDate || param->DataType == ftTime ||
                            param->DataType == ftDateTime || param->DataType == ftTimeStamp;
    const bool date_target =
        described == SQL_TYPE_DATE || described == SQL_TYPE_TIME || described == SQL_TIMESTAMP;
    if (described == SQL_BLOB) {
      std::string bytes;
      if (v.IsByteArray()) {
        const auto& b = v.ByteData().bytes;
        bytes.assign(reinterpret_cast<const char*>(b.data()), b.size());
      } else {
        bytes = v.AsString();
        if (!charset.empty() && var.sqlsubtype == 1)
          bytes = ConvertCharset(bytes, "UTF-8", charset);
      }
      const ISC_QUAD id = WriteBlob(bytes);
      var.sqltype = SQL_BLOB | 1;
      Store(in_.Buffer(i, sizeof id), id);
    } else if (v.IsByteArray()) {
      const auto& b = v.ByteData().bytes;
      put_text({reinterpret_cast<const char*>(b.data()), b.size()}, kFbCharsetOctets);
    } else if (date_param || v.VarType() == varDate || v.VarType() == varSQLTimeStamp ||
               (date_target && !v.IsText())) {
      double d = 0;
      if (v.IsText()) {
        if (!ParseDateTimeText(v.Text(), d)) {
          put_string(v.Text());  // the engine reads its own date forms
          *var.sqlind = 0;
          continue;
        }
      } else {
        d = v.AsDouble();
      }
      ISC_DATE date = 0;
      ISC_TIME time = 0;
      SplitDate(d, date, time);
      const int target = date_target                 ? described
                         : param->DataType == ftDate ? SQL_TYPE_DATE
                         : param->DataType == ftTime ? SQL_TYPE_TIME
                                                     : SQL_TIMESTAMP;
      if (target == SQL_TYPE_DATE) {
        Store(put_fixed(SQL_TYPE_DATE, 0, sizeof date), date);
      } else if (target == SQL_TYPE_TIME) {
        Store(put_fixed(SQL_TYPE_TIME, 0, sizeof time), time);
      } else {
        Store(put_fixed(SQL_TIMESTAMP, 0, sizeof(ISC_TIMESTAMP)), ISC_TIMESTAMP{date, time});
      }
    } else if (v.VarType() == varBoolean || param->DataType == ftBoolean ||
               (described == SQL_BOOLEAN && v.IsOrdinal())) {
      const bool b = v.AsBoolean();
      if (described == SQL_BOOLEAN) {
        Store<FB_BOOLEAN>(put_fixed(SQL_BOOLEAN, 0, 1), b ? FB_TRUE : FB_FALSE);
      } else {
        Store<int64_t>(put_fixed(SQL_INT64, 0, 8), b ? 1 : 0);
      }
    } else if (v.VarType() == varCurrency) {
      Store<int64_t>(put_fixed(SQL_INT64, -4, 8), v.CurrencyScaled());
    } else if (v.IsOrdinal() &&
               !(v.VarType() == varUInt64 && v.RawUnsigned() > static_cast<uint64_t>(INT64_MAX))) {
      Store<int64_t>(put_fixed(SQL_INT64, 0, 8), v.AsInt64());
    } else if (v.IsFloat() || v.IsOrdinal()) {
      Store<double>(put_fixed(SQL_DOUBLE, 0, 8), v.AsDouble());
    } else if (v.VarType() == varFMTBcd) {
      put_text(v.Bcd().text, 2);
    } else {
      put_string(v.AsString());
    }
    *var.sqlind = 0;
  }
}

}  // namespace velmora
