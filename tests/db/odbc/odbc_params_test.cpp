// How each parameter is bound to an ODBC marker, and how output values come back.
#include "db/odbc/odbc_params.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "db/core/text_encoding.h"
#include "variant/ole_date.h"

namespace velmora {
namespace {

TOdbcParamBinding Bind(TParam& param, SQLSMALLINT direction = SQL_PARAM_INPUT) {
  TOdbcParamBinding b;
  b.param = &param;
  b.target = &param;
  b.direction = direction;
  PrepareOdbcParam(b);
  return b;
}

TParam Param(TFieldType type, OleVariant value) {
  TParam p("p", type, ptInput);
  p.SetValue(std::move(value));
  return p;
}

TEST(OdbcParams, ChoosesTypesByDataTypeThenByValue) {
  const struct {
    TParam param;
    SQLSMALLINT c_type, sql_type;
    SQLLEN indicator;
  } cases[] = {
      {Param(ftInteger, OleVariant(int32_t{5})), SQL_C_SBIGINT, SQL_INTEGER, 8},
      {Param(ftSmallint, OleVariant(int32_t{5})), SQL_C_SBIGINT, SQL_SMALLINT, 8},
      // An untyped parameter takes its type from the value (int64: ftLargeint).
      {Param(ftUnknown, OleVariant(int64_t{5})), SQL_C_SBIGINT, SQL_BIGINT, 8},
      {Param(ftUnknown, OleVariant(int64_t{1} << 40)), SQL_C_SBIGINT, SQL_BIGINT, 8},
      {Param(ftBoolean, OleVariant(true)), SQL_C_BIT, SQL_BIT, 1},
      {Param(ftUnknown, OleVariant(0.5)), SQL_C_DOUBLE, SQL_DOUBLE, 8},
      {Param(ftFMTBcd, OleVariant("12.50")), SQL_C_CHAR, SQL_DECIMAL, 4},
      {Param(ftDate, OleVariant::Date(EncodeDateTime({2024, 2, 29}))), SQL_C_TYPE_DATE,
       SQL_TYPE_DATE, sizeof(SQL_DATE_STRUCT)},
      {Param(ftUnknown, OleVariant::Date(1.5)), SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
       sizeof(SQL_TIMESTAMP_STRUCT)},
      {Param(ftBlob, OleVariant::Bytes(std::string("a\0b", 3))), SQL_C_BINARY, SQL_VARBINARY, 3},
      {Param(ftWideString, OleVariant("plain")), SQL_C_CHAR, SQL_VARCHAR, 5},
      {Param(ftWideString, OleVariant("价格")), SQL_C_WCHAR, SQL_WVARCHAR, 4},
      {Param(ftWideMemo, OleVariant(std::string(5000, 'x'))), SQL_C_CHAR, SQL_LONGVARCHAR, 5000},
      {Param(ftInteger, OleVariant::Null()), SQL_C_SBIGINT, SQL_INTEGER, SQL_NULL_DATA},
  };
  for (const auto& c : cases) {
    TParam param = c.param;
    const TOdbcParamBinding b = Bind(param);
    EXPECT_EQ(b.c_type, c.c_type) << param.Value().AsString();
    EXPECT_EQ(b.sql_type, c.sql_type) << param.Value().AsString();
    EXPECT_EQ(b.indicator, c.indicator) << param.Value().AsString();
  }
}

TEST(OdbcParams, ValuesLandInTheBuffer) {
  TParam decimal = Param(ftFMTBcd, OleVariant("012.50"));
  TOdbcParamBinding b = Bind(decimal);
  EXPECT_STREQ(b.buffer.c_str(), "12.5");
  EXPECT_EQ(b.digits, 1);

  TParam stamp = Param(ftDateTime, OleVariant::Date(EncodeDateTime({2023, 12, 31, 23, 59, 58, 7})));
  b = Bind(stamp);
  SQL_TIMESTAMP_STRUCT t{};
  std::memcpy(&t, b.buffer.data(), sizeof t);
  EXPECT_EQ(t.year, 2023);
  EXPECT_EQ(t.day, 31);
  EXPECT_EQ(t.second, 58);
  EXPECT_EQ(t.fraction, 7000000u);

  TParam text = Param(ftWideString, OleVariant("价"));
  b = Bind(text);
  EXPECT_EQ(b.column_size, 1u);  // characters, not bytes
}

TEST(OdbcParams, OutputsGetRoomAndComeBackTyped) {
  TParam unknown("out", ftUnknown, ptOutput);
  TOdbcParamBinding b = Bind(unknown, SQL_PARAM_OUTPUT);
  EXPECT_EQ(b.c_type, SQL_C_WCHAR);
  EXPECT_GE(b.buffer.size(), 8000u);
  const std::u16string pong = Utf8ToUtf16("pong 价");
  std::memcpy(b.buffer.data(), pong.data(), pong.size() * 2);
  b.indicator = static_cast<SQLLEN>(pong.size() * 2);
  ReadOdbcOutput(b);
  EXPECT_EQ(unknown.Value().AsString(), "pong 价");

  TParam money("m", ftCurrency, ptOutput);
  b = Bind(money, SQL_PARAM_OUTPUT);
  std::strcpy(b.buffer.data(), "12.3456");
  b.indicator = 7;
  ReadOdbcOutput(b);
  EXPECT_EQ(money.Value().VarType(), varCurrency);
  EXPECT_DOUBLE_EQ(money.Value().AsDouble(), 12.3456);

  TParam number("n", ftInteger, ptInputOutput);
  number.SetValue(OleVariant(int32_t{4}));
  b = Bind(number, SQL_PARAM_INPUT_OUTPUT);
  b.indicator = SQL_NULL_DATA;
  ReadOdbcOutput(b);
  EXPECT_TRUE(number.IsNull());

  TParam input = Param(ftInteger, OleVariant(int32_t{9}));
  b = Bind(input);
  b.indicator = SQL_NULL_DATA;
  ReadOdbcOutput(b);  // an input is never written back
  EXPECT_EQ(input.Value().AsInt64(), 9);
}

TEST(OdbcParams, CalendarDatesOnly) {
  EXPECT_TRUE(IsCalendarDate(1, 1));
  EXPECT_FALSE(IsCalendarDate(1, 0));  // MDB Tools' "1900-01-00"
  EXPECT_FALSE(IsCalendarDate(0, 5));
  EXPECT_DOUBLE_EQ(OdbcDateTime(1899, 12, 30, 12, 0, 0, 500000000), 0.5 + 0.5 / 86400.0);
}

}  // namespace
}  // namespace velmora
