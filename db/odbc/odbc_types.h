// Field types of ODBC result columns, from the SQL type the driver describes
// (docs/odbc-types.md has the table), and how each is read.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "data/field_type.h"

namespace velmora {

// How a column's values are fetched (SQLGetData's C type) and appended.
enum class TOdbcReader : uint8_t {
  kInteger,    // SQL_C_SBIGINT
  kBoolean,    // SQL_C_BIT
  kFloat,      // SQL_C_DOUBLE
  kDecimal,    // SQL_C_CHAR, decimal text
  kDate,       // SQL_C_TYPE_DATE
  kTime,       // SQL_C_CHAR, "hh:mm:ss[.f]" (the time structure has no fraction)
  kTimeStamp,  // SQL_C_TYPE_TIMESTAMP
  kText,       // SQL_C_WCHAR (UTF-16, turned into UTF-8) or SQL_C_CHAR (UTF-8)
  kBytes,      // SQL_C_BINARY
  kGuid,       // SQL_C_CHAR, in the canonical form (db/core/guid_text.h)
};

struct TOdbcColumnType {
  TFieldType type = ftWideMemo;
  int32_t size = 0;
  int32_t precision = 0;
  int32_t scale = 0;
  TOdbcReader reader = TOdbcReader::kText;
  bool wide = false;  // text read as SQL_C_WCHAR (every character type: the driver converts)
  bool operator==(const TOdbcColumnType&) const = default;
};

// `sql_type` as SQLDescribeCol gives it (ODBC 2 and 3 codes alike), `size` its column size,
// `digits` its decimal digits; `is_unsigned` from SQL_DESC_UNSIGNED; `fixed_money` from
// SQL_DESC_FIXED_PREC_SCALE (SQL Server's money types).
TOdbcColumnType MapOdbcColumnType(SQLSMALLINT sql_type, SQLULEN size, SQLSMALLINT digits,
                                  bool is_unsigned, bool fixed_money);

// SQLite's ODBC driver (sqlite3odbc) names each column's declared type in SQL_DESC_TYPE_NAME but
// describes several as other SQL types (measured with 0.9998): DECIMAL(p,s) as VARCHAR(p) with s
// in SQL_DESC_PRECISION (p again when no scale is declared, 0 and size 255 when neither is),
// CHAR(n) and NCHAR(n) as VARCHAR(n), BLOB as BINARY(255), BINARY(n) and VARBINARY(n) as
// VARCHAR(n), GUID as VARCHAR(255). For those names this gives the field type the native SQLite
// driver gives (docs/sqlite-types.md); nullopt: the described type stands. (NUMERIC, described as
// DOUBLE without its scale, stands: ftFloat.)
std::optional<TOdbcColumnType> MapSQLiteDriverColumnType(std::string_view type_name, SQLULEN size,
                                                         SQLLEN desc_precision);

}  // namespace velmora
