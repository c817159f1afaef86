#include "db/core/command_text.h"

#include <gtest/gtest.h>

#include "data/field_type.h"
#include "db/sqlite/sqlite_types.h"

namespace velmora::test {
namespace {

struct PreprocessCase {
  const char* text;
  const char* sql;
  std::vector<std::string> names;
  std::vector<int> markers;
};

TEST(CommandTextTest, MarkersBecomePositionalOutsideLiteralsAndComments) {
  const PreprocessCase cases[] = {
      {"SELECT * FROM T WHERE ID = :ID", "SELECT * FROM T WHERE ID = ?", {"ID"}, {0}},
      {"UPDATE T SET A=:a, B=:B WHERE A=:A",
       "UPDATE T SET A=?, B=? WHERE A=?",
       {"a", "B"},
       {0, 1, 0}},
      {"SELECT ':x', \":y\", [:z], `:w` FROM T", "SELECT ':x', \":y\", [:z], `:w` FROM T", {}, {}},
      {"SELECT 'it''s :x' || :p", "SELECT 'it''s :x' || ?", {"p"}, {0}},
      {"SELECT 1 -- :c\n, :p /* :d */", "SELECT 1 -- :c\n, ? /* :d */", {"p"}, {0}},
      {"SELECT '10:30:00', a::int, x : y", "SELECT '10:30:00', a:int, x : y", {}, {}},
      {"SELECT :名前, :_a1$", "SELECT ?, ?", {"名前", "_a1$"}, {0, 1}},
      {"SELECT 'unterminated :x", "SELECT 'unterminated :x", {}, {}},
  };
  for (const PreprocessCase& c : cases) {
    const TCommandText out = PreprocessCommandText(c.text, RenderEscapePlain);
    EXPECT_EQ(out.sql, c.sql) << c.text;
    EXPECT_EQ(out.names, c.names) << c.text;
    EXPECT_EQ(out.markers, c.markers) << c.text;
  }
}

// Each engine's dialect hides its own strings, comments and bodies from the markers and escapes,
// and what it lacks is no quote to it.
TEST(CommandTextTest, EachEnginesDialectHidesItsOwnQuotes) {
  struct DialectCase {
    const char* engine;
    const TSqlDialect& dialect;
    const char* text;
    const char* sql;
    std::vector<std::string> names;
  };
  const DialectCase cases[] = {
      {"pg", kPostgresSqlDialect, "SELECT E'it\\'s :x', :p", "SELECT E'it\\'s :x', ?", {"p"}},
      {"pg",
       kPostgresSqlDialect,
       "SELECT 1 /* a /* b */ :x */, :p",
       "SELECT 1 /* a /* b */ :x */, ?",
       {"p"}},
      {"pg", kPostgresSqlDialect, "SELECT E'\\'{fn UCASE(x)}'", "SELECT E'\\'{fn UCASE(x)}'", {}},
      {"pg",
       kPostgresSqlDialect,
       "SELECT $f$ :x::int {d '2024-01-02'} $f$, :p::int",
       "SELECT $f$ :x::int {d '2024-01-02'} $f$, ?:int",
       {"p"}},
      {"pg",
       kPostgresSqlDialect,
       "SELECT a[1:2], b[i:j], `:p`",
       "SELECT a[1:2], b[i:j], `?`",
       {"p"}},
      {"firebird", kFirebirdSqlDialect, "SELECT q'{it's :x}', :p", "SELECT q'{it's :x}', ?", {"p"}},
      {"sqlite",
       kSQLiteSqlDialect,
       "SELECT [a:x], `b:y`, \"c:z\", :p",
       "SELECT [a:x], `b:y`, \"c:z\", ?",
       {"p"}},
      {"odbc", kOdbcSqlDialect, "SELECT [a]]:x], :p", "SELECT [a]]:x], ?", {"p"}},
  };
  for (const DialectCase& c : cases) {
    const TCommandText out = PreprocessCommandText(c.text, RenderEscapePlain, c.dialect);
    EXPECT_EQ(out.sql, c.sql) << c.engine << ": " << c.text;
    EXPECT_EQ(out.names, c.names) << c.engine << ": " << c.text;
  }
}

TEST(CommandTextTest, EscapesGoThroughTheTranslatorWithMarkersInOrder) {
  std::vector<TSqlEscape> seen;
  const TEscapeTranslator record = [&seen](const TSqlEscape& e) {
    seen.push_back(e);
    return RenderEscapePlain(e);
  };
  const TCommandText out = PreprocessCommandText(
      "SELECT {d '2024-03-05'}, {fn CONCAT(:a, {fn UCASE(',x)')})}, :b, {ts '2024-03-05 "
      "10:11:12'}, "
      "{unknown thing}, '{d ''no''}'",
      record);
  EXPECT_EQ(out.sql,
            "SELECT '2024-03-05', CONCAT(?, UCASE(',x)')), ?, '2024-03-05 10:11:12', "
            "{unknown thing}, '{d ''no''}'");
  EXPECT_EQ(out.names, (std::vector<std::string>{"a", "b"}));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].kind, TSqlEscape::kDate);
  EXPECT_EQ(seen[1].kind, TSqlEscape::kFunction);
  EXPECT_EQ(seen[1].name, "UCASE");
  EXPECT_EQ(seen[2].name, "CONCAT");
  EXPECT_EQ(seen[2].args, (std::vector<std::string>{"?", "UCASE(',x)')"}));
  EXPECT_EQ(seen[3].kind, TSqlEscape::kTimeStamp);
}

struct TypeCase {
  const char* declared;
  TSQLiteColumnType expected;
};

TEST(SQLiteTypesTest, DeclaredTypesMapToFieldTypes) {
  const TypeCase cases[] = {
      {"INTEGER", {ftLargeint}},
      {"int", {ftInteger}},
      {"BIGINT", {ftLargeint}},
      {"SmallInt", {ftSmallint}},
      {"TINYINT", {ftByte}},
      {"BOOLEAN", {ftBoolean}},
      {"bit", {ftBoolean}},
      {"DOUBLE  PRECISION", {ftFloat}},
      {"REAL", {ftFloat}},
      {"DECIMAL(12, 2)", {ftFMTBcd, 0, 12, 2}},
      {"NUMERIC(10)", {ftFMTBcd, 0, 10, 0}},
      {"NUMERIC", {ftFMTBcd, 0, 32, 8}},
      {"MONEY", {ftCurrency}},
      {"VARCHAR(40)", {ftWideString, 40}},
      {"NVARCHAR (20)", {ftWideString, 20}},
      {"VARCHAR", {ftWideMemo}},
      {"CHAR(10)", {ftFixedWideChar, 10}},
      {"CHAR", {ftFixedWideChar, 1}},
      {"TEXT", {ftWideMemo}},
      {"CLOB", {ftWideMemo}},
      {"BLOB", {ftBlob}},
      {"VARBINARY(16)", {ftVarBytes, 16}},
      {"DATE", {ftDate}},
      {"TIME", {ftTime}},
      {"DATETIME", {ftDateTime}},
      {"TIMESTAMP", {ftDateTime}},
      {"GUID", {ftGuid, 38}},
      {"UNSIGNED BIG INT", {ftLargeint}},
      {"MYINTTYPE", {ftLargeint}},         // affinity: contains INT
      {"STRINGCHARS", {ftWideMemo}},       // affinity: contains CHAR
      {"FLOATISH", {ftFloat}},             // affinity: FLOA
      {"WHATEVER", {ftFMTBcd, 0, 32, 8}},  // NUMERIC affinity
      {"", {ftUnknown}},
  };
  for (const TypeCase& c : cases) {
    const TSQLiteColumnType t = MapSQLiteDeclaredType(c.declared);
    EXPECT_EQ(t.type, c.expected.type) << c.declared << ": " << FieldTypeName(t.type);
    EXPECT_EQ(t.size, c.expected.size) << c.declared;
    EXPECT_EQ(t.precision, c.expected.precision) << c.declared;
    EXPECT_EQ(t.scale, c.expected.scale) << c.declared;
  }
}

}  // namespace
}  // namespace velmora::test
