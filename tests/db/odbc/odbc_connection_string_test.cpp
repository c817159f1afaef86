// The connection string each ODBC DriverID builds from DataBase.CFG lines, and the split of a
// command text for drivers that take one statement per call.
#include "db/odbc/odbc_connection_string.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "db/core/db_error.h"
#include "db/odbc/odbc_text.h"
#include "db/odbc/odbc_types.h"

namespace velmora {
namespace {

TStringList Lines(std::string_view text) {
  TStringList list;
  list.SetText(text);
  return list;
}

bool AllRegistered(std::string_view) {
  return true;
}

TEST(OdbcConnectionString, MapsEachEngineKeys) {
  const struct {
    const char* lines;
    const char* expected;
  } cases[] = {
      // The SQL Server dialog's default server and its other spellings of this machine.
      {"DriverID=MSSQL\nUser_Name=sa\nPassword=pw\nServer=(local)\nDatabase=shop",
       "Driver={FreeTDS};Server=127.0.0.1;Database=shop;UID=sa;PWD=pw;ClientCharset=UTF-8;TDS_"
       "Version=7.4"},
      {"DriverID=MSSQL\nServer=.\nDatabase=shop",
       "Driver={FreeTDS};Server=127.0.0.1;Database=shop;ClientCharset=UTF-8;TDS_Version=7.4"},
      {"DriverID=MSSQL\nDatabase=shop",
       "Driver={FreeTDS};Server=127.0.0.1;Database=shop;ClientCharset=UTF-8;TDS_Version=7.4"},
      {"DriverID=MSSQL\nServer=(LOCAL)\\SQLEXPRESS\nDatabase=shop",
       "Driver={FreeTDS};Server=127.0.0.1\\SQLEXPRESS;Database=shop;ClientCharset=UTF-8;TDS_"
       "Version=7.4"},
      {"DriverID=MSSQL\nServer=db.example.org\\SALES\nDatabase=shop",
       "Driver={FreeTDS};Server=db.example.org\\SALES;Database=shop;ClientCharset=UTF-8;TDS_"
       "Version=7.4"},
      {"DriverID=MSSQL\nServer=tcp:db.example.org,14330\nDatabase=shop",
       "Driver={FreeTDS};Server=db.example.org;Port=14330;Database=shop;ClientCharset=UTF-8;TDS_"
       "Version=7.4"},
      {"DriverID=MSSQL\nServer=.,1433\nDatabase=shop",
       "Driver={FreeTDS};Server=127.0.0.1;Port=1433;Database=shop;ClientCharset=UTF-8;TDS_Version="
       "7.4"},
      // Windows authentication: the driver's integrated login, no user name or password sent.
      {"DriverID=MSSQL\nUser_Name=sa\nPassword=pw\nOSAuthent=Yes\nServer=srv\nDatabase=shop",
       "Driver={FreeTDS};Server=srv;Database=shop;Trusted_Connection=Yes;ClientCharset=UTF-8;TDS_"
       "Version=7.4"},
      {"DriverID=MSSQL\nOSAuthent=No\nUser_Name=sa\nServer=srv\nDatabase=shop",
       "Driver={FreeTDS};Server=srv;Database=shop;UID=sa;ClientCharset=UTF-8;TDS_Version=7.4"},
      // Values holding ';' or braces are braced, a '}' doubled; hand-added lines pass through.
      {"DriverID=MSSQL\nUser_Name=sa\nPassword=a;b}c\nServer=srv\nDatabase=shop\nTDS_Version=7.2"
       "\nClientCharset=CP936\nTDS_Version=8.0",
       "Driver={FreeTDS};Server=srv;Database=shop;UID=sa;PWD={a;b}}c};TDS_Version=7.2;"
       "ClientCharset=CP936"},
      {"DriverID=MSSQL\nODBCDriver=ODBC Driver 18 for SQL Server\nServer=srv\nDatabase=shop"
       "\nLoginTimeout=3\nODBCAdvanced=Encrypt=no;APP=velmora",
       "Driver={ODBC Driver 18 for SQL Server};Server=srv;Database=shop;Encrypt=no;APP=velmora"},
      // Access: the file path as DBQ.
      {"DriverID=MSAcc\nUser_Name=Admin\nPassword=\nDatabase=/data/shop; old.mdb",
       "Driver={MDBTools};DBQ={/data/shop; old.mdb};UID=Admin"},
      // Any other ODBC source.
      {"DriverID=ODBC\nDataSource=sales\nUser_Name=u\nPassword=p", "DSN=sales;UID=u;PWD=p"},
      {"DriverID=ODBC\nODBCDriver=PostgreSQL Unicode\nServer=127.0.0.1\nDatabase=d\nPort=5433"
       "\nODBCAdvanced=;SSLmode=disable",
       "Driver={PostgreSQL Unicode};Server=127.0.0.1;Database=d;Port=5433;BoolsAsChar=0;"
       "Protocol=7.4-2;SSLmode=disable"},
      // PostgreSQL's defaults give way to the file's own lines.
      {"DriverID=ODBC\nODBCDriver=PostgreSQL ANSI\nDatabase=d\nBoolsAsChar=1\nProtocol=7.4-1",
       "Driver={PostgreSQL ANSI};Database=d;BoolsAsChar=1;Protocol=7.4-1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuildOdbcConnectTarget(Lines(c.lines), AllRegistered).connection_string, c.expected)
        << c.lines;
  }
}

TEST(OdbcConnectionString, UnregisteredDefaultDriverFallsBackToItsLibrary) {
  const auto none = [](std::string_view) { return false; };
  const std::string mssql =
      BuildOdbcConnectTarget(Lines("DriverID=MSSQL\nServer=srv\nDatabase=d"), none)
          .connection_string;
  EXPECT_EQ(mssql.rfind("Driver={/", 0), 0u) << mssql;
  EXPECT_NE(mssql.find("/libtdsodbc.so};Server=srv;"), std::string::npos) << mssql;
  const std::string access =
      BuildOdbcConnectTarget(Lines("DriverID=MSAcc\nDatabase=/x.mdb"), none).connection_string;
  EXPECT_NE(access.find("/libmdbodbc.so};DBQ=/x.mdb"), std::string::npos) << access;
}

TEST(OdbcConnectionString, LoginTimeoutAndMissingParameters) {
  EXPECT_EQ(BuildOdbcConnectTarget(Lines("DriverID=MSSQL\nDatabase=d"), AllRegistered)
                .login_timeout_seconds,
            10);
  EXPECT_EQ(
      BuildOdbcConnectTarget(Lines("DriverID=MSSQL\nDatabase=d\nLoginTimeout=2"), AllRegistered)
          .login_timeout_seconds,
      2);
  const struct {
    const char* lines;
    const char* message;
  } errors[] = {
      {"DriverID=MSSQL\nLoginTimeout=soon",
       "Invalid value [soon] of connection parameter "
       "LoginTimeout"},
      {"DriverID=MSAcc\nUser_Name=Admin", "Connection parameter Database is missing"},
      {"DriverID=ODBC\nDatabase=d", "Connection parameter ODBCDriver or DataSource is missing"},
  };
  for (const auto& e : errors) {
    try {
      BuildOdbcConnectTarget(Lines(e.lines), AllRegistered);
      ADD_FAILURE() << e.lines;
    } catch (const EFDException& x) {
      EXPECT_STREQ(x.what(), e.message);
    }
  }
}

TEST(OdbcStatementSplit, SplitsAtTopLevelSemicolonsAndCountsMarkers) {
  const auto split = SplitOdbcStatements(
      "INSERT INTO t VALUES (?, 'a;?');  -- note; ?\n"
      "UPDATE t SET b = \"x;?\" WHERE a = ? /* ; ? */;\n"
      "CREATE TRIGGER tr AFTER INSERT ON t BEGIN UPDATE t SET c = CASE WHEN 1 THEN 2 END; "
      "DELETE FROM u; END;\n"
      "  ;  -- only a comment\n"
      "SELECT [a;b] FROM t WHERE x = ?");
  ASSERT_EQ(split.size(), 4u);
  EXPECT_EQ(split[0].sql, "INSERT INTO t VALUES (?, 'a;?')");
  EXPECT_EQ(split[0].markers, 1);
  EXPECT_EQ(split[1].markers, 1);
  EXPECT_EQ(split[2].sql.substr(split[2].sql.size() - 4), " END");
  EXPECT_EQ(split[2].markers, 0);
  EXPECT_EQ(split[3].markers, 1);
  EXPECT_EQ(SplitOdbcStatements("BEGIN; INSERT INTO t VALUES (1); COMMIT").size(), 3u);
}

TEST(OdbcTypes, MapsSqlTypesOntoFieldTypes) {
  const struct {
    SQLSMALLINT sql;
    SQLULEN size;
    SQLSMALLINT digits;
    bool is_unsigned, money;
    TFieldType type;
    int32_t field_size, precision, scale;
  } cases[] = {
      {SQL_BIT, 1, 0, false, false, ftBoolean, 0, 0, 0},
      {SQL_TINYINT, 3, 0, true, false, ftByte, 0, 0, 0},
      {SQL_TINYINT, 3, 0, false, false, ftShortint, 0, 0, 0},
      {SQL_SMALLINT, 5, 0, false, false, ftSmallint, 0, 0, 0},
      {SQL_INTEGER, 10, 0, false, false, ftInteger, 0, 0, 0},
      {SQL_INTEGER, 10, 0, true, false, ftLongWord, 0, 0, 0},
      {SQL_BIGINT, 19, 0, false, false, ftLargeint, 0, 0, 0},
      {SQL_BIGINT, 20, 0, true, false, ftFMTBcd, 0, 20, 0},
      {SQL_NUMERIC, 9, 0, false, false, ftInteger, 0, 0, 0},
      {SQL_DECIMAL, 18, 0, false, false, ftLargeint, 0, 0, 0},
      {SQL_NUMERIC, 19, 0, false, false, ftFMTBcd, 0, 19, 0},
      {SQL_DECIMAL, 10, 2, false, false, ftFMTBcd, 0, 10, 2},
      {SQL_DECIMAL, 19, 4, false, true, ftCurrency, 0, 19, 4},
      {SQL_REAL, 7, 0, false, false, ftSingle, 0, 0, 0},
      {SQL_FLOAT, 15, 0, false, false, ftFloat, 0, 0, 0},
      {SQL_DOUBLE, 15, 0, false, false, ftFloat, 0, 0, 0},
      {SQL_CHAR, 10, 0, false, false, ftFixedWideChar, 10, 0, 0},
      {SQL_WVARCHAR, 40, 0, false, false, ftWideString, 40, 0, 0},
      {SQL_VARCHAR, 0, 0, false, false, ftWideMemo, 0, 0, 0},
      {SQL_WLONGVARCHAR, 1073741823, 0, false, false, ftWideMemo, 0, 0, 0},
      {SQL_BINARY, 16, 0, false, false, ftBytes, 16, 0, 0},
      {SQL_VARBINARY, 100, 0, false, false, ftVarBytes, 100, 0, 0},
      {SQL_LONGVARBINARY, 2147483647, 0, false, false, ftBlob, 0, 0, 0},
      {SQL_TYPE_DATE, 10, 0, false, false, ftDate, 0, 0, 0},
      {SQL_DATE, 10, 0, false, false, ftDate, 0, 0, 0},
      {SQL_TYPE_TIME, 8, 0, false, false, ftTime, 0, 0, 0},
      {SQL_TYPE_TIMESTAMP, 23, 3, false, false, ftDateTime, 0, 0, 0},
      {SQL_TIMESTAMP, 19, 0, false, false, ftDateTime, 0, 0, 0},
      {SQL_GUID, 36, 0, false, false, ftGuid, 38, 0, 0},
  };
  for (const auto& c : cases) {
    const TOdbcColumnType t = MapOdbcColumnType(c.sql, c.size, c.digits, c.is_unsigned, c.money);
    EXPECT_EQ(t.type, c.type) << c.sql;
    EXPECT_EQ(t.size, c.field_size) << c.sql;
    EXPECT_EQ(t.precision, c.precision) << c.sql;
    EXPECT_EQ(t.scale, c.scale) << c.sql;
  }
}

// SQLite's ODBC driver: the declared type's name and the size and SQL_DESC_PRECISION it gives
// (measured with sqlite3odbc 0.9998) decide where its SQL type is wrong.
TEST(OdbcTypes, MapsSQLiteDriverColumnsByTheirDeclaredNames) {
  const struct {
    const char* name;
    SQLULEN size;
    SQLLEN desc_precision;
    TFieldType type;  // ftUnknown: the described type stands
    int32_t field_size, precision, scale;
  } cases[] = {
      {"DECIMAL", 12, 2, ftFMTBcd, 0, 12, 2},   // DECIMAL(12,2)
      {"decimal", 8, 8, ftFMTBcd, 0, 8, 0},     // DECIMAL(8): the precision again
      {"DECIMAL", 255, 0, ftFMTBcd, 0, 32, 8},  // DECIMAL: the native driver's default
      {"CHAR", 3, 3, ftFixedWideChar, 3, 0, 0}, {"NCHAR", 255, 0, ftFixedWideChar, 1, 0, 0},
      {"BLOB", 255, 0, ftBlob, 0, 0, 0},        {"BINARY", 4, 4, ftBytes, 4, 0, 0},
      {"VARBINARY", 255, 0, ftBlob, 0, 0, 0},   {"GUID", 255, 0, ftGuid, 38, 0, 0},
      {"UUID", 255, 0, ftGuid, 38, 0, 0},       {"VARCHAR", 20, 20, ftUnknown, 0, 0, 0},
      {"NUMERIC", 12, 15, ftUnknown, 0, 0, 0},  {"INTEGER", 10, 10, ftUnknown, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const std::optional<TOdbcColumnType> t =
        MapSQLiteDriverColumnType(c.name, c.size, c.desc_precision);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(t.has_value(), c.type != ftUnknown);
    if (!t || c.type == ftUnknown) continue;
    EXPECT_EQ(FieldTypeName(t->type), FieldTypeName(c.type));
    EXPECT_EQ(t->size, c.field_size);
    EXPECT_EQ(t->precision, c.precision);
    EXPECT_EQ(t->scale, c.scale);
  }
}

}  // namespace
}  // namespace velmora
