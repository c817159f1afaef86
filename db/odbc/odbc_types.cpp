#include "db/odbc/odbc_types.h"

#include <initializer_list>
#include <limits>

#include "variant/variant_text.h"

namespace velmora {
namespace {

// SQL Server's own type codes (FreeTDS reports them as Microsoft's driver does).
constexpr SQLSMALLINT kSsXml = -152;
constexpr SQLSMALLINT kSsTime2 = -154;
constexpr SQLSMALLINT kSsTimeStampOffset = -155;

// What SQLite's ODBC driver gives as the size of a column declared without one, and the native
// SQLite driver's precision and scale of a decimal declared without them.
constexpr SQLULEN kSQLiteUndeclaredSize = 255;
constexpr int32_t kSQLiteBcdPrecision = 32;
constexpr int32_t kSQLiteBcdScale = 8;

// A text or binary column longer than this is a memo or blob, not a sized string.
constexpr SQLULEN kMaxSizedColumn = 65535;

int32_t Size32(SQLULEN size) {
  return size > static_cast<SQLULEN>(std::numeric_limits<int32_t>::max())
             ? std::numeric_limits<int32_t>::max()
             : static_cast<int32_t>(size);
}

TOdbcColumnType Text(TFieldType sized, SQLULEN size, bool wide) {
  if (size == 0 || size > kMaxSizedColumn) return {ftWideMemo, 0, 0, 0, TOdbcReader::kText, wide};
  return {sized, Size32(size), 0, 0, TOdbcReader::kText, wide};
}

TOdbcColumnType Binary(TFieldType sized, SQLULEN size) {
  if (size == 0 || size > kMaxSizedColumn) return {ftBlob, 0, 0, 0, TOdbcReader::kBytes};
  return {sized, Size32(size), 0, 0, TOdbcReader::kBytes};
}

}  // namespace

TOdbcColumnType MapOdbcColumnType(SQLSMALLINT sql_type, SQLULEN size, SQLSMALLINT digits,
                                  bool is_unsigned, bool fixed_money) {
  using R = TOdbcReader;
  switch (sql_type) {
    case SQL_BIT:
      return {ftBoolean, 0, 0, 0, R::kBoolean};
    case SQL_TINYINT:
      return {is_unsigned ? ftByte : ftShortint, 0, 0, 0, R::kInteger};
    case SQL_SMALLINT:
      return {is_unsigned ? ftWord : ftSmallint, 0, 0, 0, R::kInteger};
    case SQL_INTEGER:
      return {is_unsigned ? ftLongWord : ftInteger, 0, 0, 0, R::kInteger};
    case SQL_BIGINT:
      // An unsigned 64-bit value may not fit a signed one: exact decimal text instead.
      if (is_unsigned) return {ftFMTBcd, 0, 20, 0, R::kDecimal};
      return {ftLargeint, 0, 0, 0, R::kInteger};
    case SQL_DECIMAL:
    case SQL_NUMERIC: {
      const auto precision = Size32(size);
      if (fixed_money) return {ftCurrency, 0, precision, digits, R::kDecimal};
      if (digits <= 0 && precision > 0 && precision <= 9) return {ftInteger, 0, 0, 0, R::kInteger};
      if (digits <= 0 && precision > 9 && precision <= 18)
        return {ftLargeint, 0, 0, 0, R::kInteger};
      return {ftFMTBcd, 0, precision, digits > 0 ? digits : 0, R::kDecimal};
    }
    case SQL_REAL:
      return {ftSingle, 0, 0, 0, R::kFloat};
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return {ftFloat, 0, 0, 0, R::kFloat};
    case SQL_CHAR:
      return Text(ftFixedWideChar, size, true);
    case SQL_WCHAR:
      return Text(ftFixedWideChar, size, true);
    case SQL_VARCHAR:
      return Text(ftWideString, size, true);
    case SQL_WVARCHAR:
      return Text(ftWideString, size, true);
    case SQL_LONGVARCHAR:
      return {ftWideMemo, 0, 0, 0, R::kText, true};
    case SQL_WLONGVARCHAR:
    case kSsXml:
      return {ftWideMemo, 0, 0, 0, R::kText, true};
    case SQL_BINARY:
      return Binary(ftBytes, size);
    case SQL_VARBINARY:
      return Binary(ftVarBytes, size);
    case SQL_LONGVARBINARY:
      return {ftBlob, 0, 0, 0, R::kBytes};
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return {ftDate, 0, 0, 0, R::kDate};
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case kSsTime2:
      return {ftTime, 0, 0, 0, R::kTime};
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return {ftDateTime, 0, 0, 0, R::kTimeStamp};
    case SQL_GUID:
      return {ftGuid, 38, 0, 0, R::kGuid};
    case kSsTimeStampOffset:
      return {ftWideString, 34, 0, 0, R::kText, true};
    default:
      // Types ODBC has no code for (intervals, PostgreSQL's own): their text.
      return {ftWideMemo, 0, 0, 0, R::kText, true};
  }
}

std::optional<TOdbcColumnType> MapSQLiteDriverColumnType(std::string_view type_name, SQLULEN size,
                                                         SQLLEN desc_precision) {
  using R = TOdbcReader;
  const auto is = [type_name](std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) {
      if (EqualsNoCase(type_name, name)) return true;
    }
    return false;
  };
  // A size the declaration gave; the driver's 255 when it gave none.
  const bool sized = size > 0 && size < kSQLiteUndeclaredSize;
  if (is({"DECIMAL", "DEC"})) {
    if (!sized)
      return TOdbcColumnType{ftFMTBcd, 0, kSQLiteBcdPrecision, kSQLiteBcdScale, R::kDecimal};
    const auto precision = Size32(size);
    const int32_t scale = desc_precision > 0 && static_cast<SQLULEN>(desc_precision) < size
                              ? static_cast<int32_t>(desc_precision)
                              : 0;
    return TOdbcColumnType{ftFMTBcd, 0, precision, scale, R::kDecimal};
  }
  if (is({"CHAR", "NCHAR", "CHARACTER"}))
    return TOdbcColumnType{ftFixedWideChar, sized ? Size32(size) : 1, 0, 0, R::kText, true};
  if (is({"BLOB", "IMAGE", "LONGBLOB", "MEDIUMBLOB", "BYTEA", "GRAPHIC"}))
    return TOdbcColumnType{ftBlob, 0, 0, 0, R::kBytes};
  if (is({"BINARY", "VARBINARY"})) {
    if (!sized) return TOdbcColumnType{ftBlob, 0, 0, 0, R::kBytes};
    return TOdbcColumnType{is({"BINARY"}) ? ftBytes : ftVarBytes, Size32(size), 0, 0, R::kBytes};
  }
  if (is({"GUID", "UUID", "UNIQUEIDENTIFIER"})) return TOdbcColumnType{ftGuid, 38, 0, 0, R::kGuid};
  return std::nullopt;
}

}  // namespace velmora
