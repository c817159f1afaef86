// Literal lifting: which literals become bound values, and, run on SQLite, that every text gives
// the same columns, names and rows lifted as written (a bound value and a literal compare alike:
// neither has affinity, the column's applies).
#include "db/core/literal_lifting.h"

#include <fmt/core.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/core/query.h"
#include "db/sqlite/sqlite_connection.h"
#include "tests/db/sqlite_test_support.h"

namespace velmora::test {
namespace {

constexpr TSqlDialect kSQLite{
    .bracket_names = true, .backtick_names = true, .dollar_in_words = true};

struct LiftCase {
  const char* text;
  const char* lifted;  // nullptr: left as it is
  std::vector<int> markers = {};
};

TEST(LiteralLifting, LiftsOnlyComparedLiteralsOutsideColumnLists) {
  const LiftCase cases[] = {
      {"SELECT * FROM T WHERE ID = 5", "SELECT * FROM T WHERE ID = ?", {0}},
      {"select a from t where b<>'x''y' and c>=-7", "select a from t where b<>? and c>=?", {0, 1}},
      {"SELECT A FROM T WHERE B = - 3 OR B == +4 OR B != 1 OR B<2",
       "SELECT A FROM T WHERE B = ? OR B == ? OR B != ? OR B<?",
       {0, 1, 2, 3}},
      {"SELECT * FROM T WHERE A = ? AND B = 5 AND C = ?",
       "SELECT * FROM T WHERE A = ? AND B = ? AND C = ?",
       {-1, 0, -1}},
      {"SELECT * FROM T WHERE A = /* c */ 5 -- = 6\n",
       "SELECT * FROM T WHERE A = /* c */ ? -- = 6\n",
       {0}},
      {"SELECT * FROM T WHERE A = 'x' COLLATE NOCASE;",
       "SELECT * FROM T WHERE A = ? COLLATE NOCASE;",
       {0}},
      {"WITH C AS (SELECT A = 1 AS F FROM T WHERE B > 2) SELECT * FROM C WHERE F = 3",
       "WITH C AS (SELECT A = 1 AS F FROM T WHERE B > ?) SELECT * FROM C WHERE F = ?",
       {0, 1}},
      {"SELECT (SELECT MAX(A) FROM T WHERE B = 1), C = 2 FROM T WHERE D = 3",
       "SELECT (SELECT MAX(A) FROM T WHERE B = 1), C = 2 FROM T WHERE D = ?",
       {0}},
      {"SELECT * FROM T WHERE A IN (SELECT B FROM U WHERE C = 1)",
       "SELECT * FROM T WHERE A IN (SELECT B FROM U WHERE C = ?)",
       {0}},
      {"SELECT A FROM T WHERE B = 9223372036854775807", "SELECT A FROM T WHERE B = ?", {0}},
      {"SELECT A FROM T WHERE B = -9223372036854775808", "SELECT A FROM T WHERE B = ?", {0}},
      {"SELECT A FROM T WHERE B = -0009223372036854775808", "SELECT A FROM T WHERE B = ?", {0}},
      {"SELECT A FROM T WHERE B = 0000000000000000000000000000005",
       "SELECT A FROM T WHERE B = ?",
       {0}},
      // Left as written.
      {"SELECT A = 5, 'x' = 'x' FROM T", nullptr},
      // Integers outside int64, whatever their digit count, sign or leading zeros.
      {"SELECT * FROM T WHERE B = 9223372036854775808", nullptr},
      {"SELECT * FROM T WHERE B = +9223372036854775808", nullptr},
      {"SELECT * FROM T WHERE B = -9223372036854775809", nullptr},
      {"SELECT * FROM T WHERE B = 18446744073709551616", nullptr},
      {"SELECT * FROM T WHERE B = 18446744073709551621", nullptr},
      {"SELECT * FROM T WHERE B = 20000000000000000000", nullptr},
      {"SELECT * FROM T WHERE B > -18446744073709551617", nullptr},
      {"SELECT * FROM T WHERE B = 00018446744073709551616", nullptr},
      {"SELECT * FROM T WHERE B = 340282366920938463463374607431768211457", nullptr},
      {"SELECT * FROM T WHERE B = 5.0 OR B = 0x5 OR B = 1e3 OR B = X'05'", nullptr},
      {"SELECT * FROM T WHERE B IN (1, 2) OR B BETWEEN 3 AND 4 OR C LIKE 'a%' OR B IS 5", nullptr},
      {"SELECT * FROM T WHERE B = 'a = 5' ORDER BY 1 LIMIT 10 OFFSET 2",
       "SELECT * FROM T WHERE B = ? ORDER BY 1 LIMIT 10 OFFSET 2",
       {0}},
      {"SELECT * FROM T WHERE B = 5 + C", "SELECT * FROM T WHERE B = ? + C", {0}},
      {"SELECT * FROM T WHERE B - 5 > 0 AND C = D - 1",
       "SELECT * FROM T WHERE B - 5 > ? AND C = D - 1",
       {0}},
      {"SELECT * FROM T WHERE A = :A AND B = 5", nullptr},
      {"SELECT * FROM T WHERE A = ?1 AND B = 5", nullptr},
      {"SELECT * FROM T WHERE A = @a AND B = 5", nullptr},
      {"SELECT * FROM T WHERE B = 5; SELECT 1", nullptr},
      {"UPDATE T SET A = 1 WHERE B = 2", nullptr},
      {"WITH C AS (SELECT 1) DELETE FROM T WHERE B = 2", nullptr},
      {"SELECT * FROM T WHERE B = 'open", nullptr},
      {"SELECT * FROM \"T\" WHERE \"B = 5\" = [C = 6]", nullptr},
  };
  for (const LiftCase& c : cases) {
    TLiftedText out;
    const bool lifted = LiftLiterals(c.text, kSQLite, out);
    EXPECT_EQ(lifted, c.lifted != nullptr) << c.text;
    if (!lifted || c.lifted == nullptr) continue;
    EXPECT_EQ(out.sql, c.lifted) << c.text;
    EXPECT_EQ(out.markers, c.markers) << c.text;
    // Each marker's offset is where its "?" stands, in order.
    std::vector<size_t> offsets;
    for (size_t i = 0; i < out.sql.size(); ++i) {
      if (out.sql[i] == '?') offsets.push_back(i);
    }
    EXPECT_EQ(out.marker_offsets, offsets) << c.text;
  }
}

TEST(LiteralLifting, ValuesAreTheLiteralsOwn) {
  TLiftedText out;
  ASSERT_TRUE(LiftLiterals("SELECT * FROM T WHERE A = 'it''s' AND B >= -42 AND C < 007 AND D = ''",
                           kSQLite, out));
  ASSERT_EQ(out.values.size(), 4u);
  EXPECT_TRUE(out.values[0].is_text);
  EXPECT_EQ(out.values[0].text, "it's");
  EXPECT_FALSE(out.values[1].is_text);
  EXPECT_EQ(out.values[1].integer, -42);
  EXPECT_EQ(out.values[2].integer, 7);
  EXPECT_TRUE(out.values[3].is_text);
  EXPECT_EQ(out.values[3].text, "");

  // int64's edges, reached with any number of leading zeros.
  const struct {
    const char* literal;
    int64_t value;
  } edges[] = {
      {"9223372036854775807", INT64_MAX},         {"-9223372036854775808", INT64_MIN},
      {"- 0000009223372036854775808", INT64_MIN}, {"-9223372036854775807", -INT64_MAX},
      {"+00000000000000000000000000", 0},         {"-0", 0},
  };
  for (const auto& e : edges) {
    const std::string text = std::string("SELECT * FROM T WHERE A = ") + e.literal;
    ASSERT_TRUE(LiftLiterals(text, kSQLite, out)) << text;
    ASSERT_EQ(out.values.size(), 1u) << text;
    EXPECT_EQ(out.values[0].integer, e.value) << text;
  }
}

TEST(LiteralLifting, IntegersOnlyLeavesStringsAsWritten) {
  TLiftedText out;
  ASSERT_TRUE(LiftLiterals("SELECT * FROM T WHERE A = 'x' AND B = 5 AND C <> ''", kSQLite, out,
                           {.strings = false}));
  EXPECT_EQ(out.sql, "SELECT * FROM T WHERE A = 'x' AND B = ? AND C <> ''");
  ASSERT_EQ(out.values.size(), 1u);
  EXPECT_EQ(out.values[0].integer, 5);
  EXPECT_FALSE(LiftLiterals("SELECT * FROM T WHERE A = 'x'", kSQLite, out, {.strings = false}));
}

// Runs `sql` on `db` (binding `values` to its markers) and prints its column names and rows.
std::string RawRows(sqlite3* db, const std::string& sql, const std::vector<TLiftedValue>& values) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
    return std::string("error: ") + sqlite3_errmsg(db);
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw, sqlite3_finalize);
  for (size_t i = 0; i < values.size(); ++i) {
    const int k = static_cast<int>(i + 1);
    if (values[i].is_text) {
      sqlite3_bind_text(raw, k, values[i].text.c_str(), -1, SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_int64(raw, k, values[i].integer);
    }
  }
  std::string out;
  const int columns = sqlite3_column_count(raw);
  for (int i = 0; i < columns; ++i)
    out += fmt::format("{}{}", i ? "|" : "", sqlite3_column_name(raw, i));
  int rc = 0;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    out += "\n";
    for (int i = 0; i < columns; ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, i));
      out += fmt::format("{}{}:{}", i ? "|" : "", sqlite3_column_type(raw, i),
                         text != nullptr ? text : "");
    }
  }
  if (rc != SQLITE_DONE) out += std::string("\nerror: ") + sqlite3_errmsg(db);
  return out;
}

class LiteralLiftingSQLite : public SQLiteTest {
 protected:
  void SetUp() override {
    SQLiteTest::SetUp();
    Exec(
        "CREATE TABLE L (ID INTEGER PRIMARY KEY, I INTEGER, T TEXT, N NUMERIC, R REAL, B BLOB, "
        "NC TEXT COLLATE NOCASE, U)");
    Exec(
        "INSERT INTO L VALUES (1, 5, '5', 5, 5.0, X'35', 'Abc', '5'), "
        "(2, 10, '10', '10', 10.5, '10', 'abc', 5), (3, -3, '-3', -3, -3, -3, 'x''y', 'x''y'), "
        "(4, NULL, NULL, NULL, NULL, NULL, NULL, NULL), "
        "(5, 9223372036854775807, 'O''Brien', '1e3', 1000, 'it''s', 'ABC', 9223372036854775807), "
        // What integers outside int64 would wrap to, modulo 2^64.
        "(6, 0, '0', 0, 0, 0, '0', 0), (7, 1553255926290448384, '', 0, 0, 0, '', 0), "
        "(8, -9223372036854775808, '', 0, 0, 0, '', -9223372036854775808)");
  }
};

TEST_F(LiteralLiftingSQLite, LiftedTextsGiveTheRowsOfTheTextAsWritten) {
  const char* texts[] = {
      "SELECT ID FROM L WHERE I = 5",
      "SELECT ID FROM L WHERE I = '5'",
      "SELECT ID FROM L WHERE T = 5",
      "SELECT ID FROM L WHERE T = '5'",
      "SELECT ID FROM L WHERE N = '10' OR N = 5 OR N = '1e3'",
      "SELECT ID FROM L WHERE R = 5 OR R = '1000' OR R > 10",
      "SELECT ID FROM L WHERE B = '10' OR B = 5 OR B = -3",
      "SELECT ID FROM L WHERE U = 5 OR U = '5'",
      "SELECT ID FROM L WHERE U = 'x''y' OR T = 'O''Brien'",
      "SELECT ID FROM L WHERE NC = 'ABC'",
      "SELECT ID FROM L WHERE T = 'o''brien' COLLATE NOCASE OR NC = 'abc' COLLATE BINARY",
      "SELECT ID FROM L WHERE I = -3 OR I > - 4 AND I <= -3 OR T = -3",
      "SELECT ID FROM L WHERE I <> 5 AND I != 10 AND I < 100 AND I >= -3 ORDER BY ID DESC",
      "SELECT ID FROM L WHERE I == 9223372036854775807 OR U = 9223372036854775807",
      "SELECT ID FROM L WHERE I = 9223372036854775808 OR I = -9223372036854775808",
      "SELECT ID FROM L WHERE I = 18446744073709551616 OR U = 18446744073709551616",
      "SELECT ID FROM L WHERE I = 20000000000000000000",
      "SELECT ID FROM L WHERE I = 0018446744073709551621 OR I = +18446744073709551616",
      "SELECT ID FROM L WHERE I < 20000000000000000000 ORDER BY ID",
      "SELECT ID FROM L WHERE I > -18446744073709551617 ORDER BY ID",
      "SELECT ID FROM L WHERE I = -9223372036854775808 OR U = -0009223372036854775808",
      "SELECT ID, I, T FROM L WHERE T <> 'a = 5' /* I = 5 */ -- I = 10\n ORDER BY 2 DESC, 1",
      "SELECT ID FROM L WHERE I > 0 ORDER BY 1 LIMIT 2 OFFSET 1",
      "SELECT I = 5, T = '5', I = 5 AS X, (SELECT COUNT(*) FROM L WHERE I = 5) FROM L WHERE ID = 1",
      "SELECT * FROM (SELECT I = 5, T || 'x' FROM L WHERE ID < 3)",
      "WITH C AS (SELECT ID, I = 10 FROM L WHERE I > 0) SELECT * FROM C WHERE ID <> 2",
      "SELECT ID FROM L WHERE I = 5 UNION SELECT ID FROM L WHERE T = '10' ORDER BY 1",
      "SELECT ID FROM L WHERE I IN (5, 10) AND T LIKE '1%' OR ID BETWEEN 4 AND 5",
      "SELECT ID FROM L WHERE R = 5.0 OR I = 0x5 OR B = X'35'",
      "SELECT ID FROM L WHERE I = 5 + 5 OR I = 3 - 6 OR I = 2 * 5",
      "SELECT ID FROM L WHERE I<5 AND T='-3'",
      "SELECT COUNT(*), I = 5 FROM L GROUP BY I = 5 HAVING COUNT(*) > 1",
      "SELECT ID FROM L WHERE T = 5 COLLATE NOCASE OR T = '10' COLLATE RTRIM",
  };
  sqlite3* db = dynamic_cast<TSQLiteConnection&>(connection_.Driver()).Handle();
  int lifted_texts = 0;
  for (const char* text : texts) {
    const std::string written = RawRows(db, text, {});
    ASSERT_EQ(written.find("error"), std::string::npos) << text << "\n" << written;
    TLiftedText lifted;
    if (!LiftLiterals(text, kSQLite, lifted)) continue;
    ++lifted_texts;
    ASSERT_EQ(lifted.markers.size(), lifted.values.size()) << text;
    EXPECT_EQ(RawRows(db, lifted.sql, lifted.values), written) << text << "\n" << lifted.sql;
  }
  EXPECT_GE(lifted_texts, 24);
}

TEST_F(LiteralLiftingSQLite, QueriesDifferingByTheirKeyShareOneStatement) {
  auto& session = dynamic_cast<TSQLiteConnection&>(connection_.Driver());
  const size_t kept_before = session.Statements().Size();
  for (int id : {1, 2, 3, 5}) {
    query_.Close();
    query_.SQL().SetText(fmt::format("SELECT ID, T FROM L WHERE ID = {} AND T <> 'zz'", id));
    query_.Open();
    ASSERT_EQ(query_.RecordCount(), 1);
    EXPECT_EQ(query_.FieldByName("ID").AsInteger(), id);
    EXPECT_EQ(query_.SQL().Text(),
              fmt::format("SELECT ID, T FROM L WHERE ID = {} AND T <> 'zz'", id));
  }
  EXPECT_EQ(session.Statements().Size(), kept_before + 1);
  // Lifted literals and the query's own parameters, in their order.
  query_.Close();
  query_.SQL().SetText("SELECT ID FROM L WHERE ID > :LOW AND I <> 10 AND ID < :HIGH");
  query_.ParamByName("LOW").SetValue(OleVariant(int32_t{1}));
  query_.ParamByName("HIGH").SetValue(OleVariant(int32_t{5}));
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 1);  // 3 (2 has I = 10, 4 has I NULL)
  EXPECT_EQ(query_.FieldByName("ID").AsInteger(), 3);
}

TEST_F(LiteralLiftingSQLite, TextTheEngineRefusesLiftedRunsAsWritten) {
  // More compared literals than the engine takes bound values: the lifted text is refused, the
  // text as written runs.
  sqlite3* db = dynamic_cast<TSQLiteConnection&>(connection_.Driver()).Handle();
  sqlite3_limit(db, SQLITE_LIMIT_VARIABLE_NUMBER, 3);
  const std::string sql = "SELECT ID FROM L WHERE I = 5 AND T = '5' AND N = 5 AND U = '5'";
  TLiftedText lifted;
  ASSERT_TRUE(LiftLiterals(sql, kSQLite, lifted));
  ASSERT_EQ(lifted.values.size(), 4u);
  EXPECT_EQ(Scalar(sql), "1");
  // A refused text's message is the text as written's.
  const std::string message = ErrorOf([&] { Scalar("SELECT ID FROM L WHERE NOPE = 5"); });
  EXPECT_NE(message.find("no such column: NOPE"), std::string::npos) << message;
}

}  // namespace
}  // namespace velmora::test
