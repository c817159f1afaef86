// The row rule: which statements run as queries (SQL2OleVariant) and which as commands (ExecSQL),
// from the text alone.
#include "client/statement_kind.h"

#include <gtest/gtest.h>

#include <string_view>

namespace velmora::test {
namespace {

struct KindCase {
  std::string_view sql;
  StatementKind kind;
};

constexpr StatementKind kRows = StatementKind::Rows;
constexpr StatementKind kCommand = StatementKind::Command;

TEST(StatementKindTest, FirstWordAfterBlanksCommentsAndParentheses) {
  const KindCase cases[] = {
      {"SELECT 1", kRows},
      {"  \t\n select * from t", kRows},
      {"-- a note; SELECT\nSELECT 1", kRows},
      {"/* one */ /* two */SELECT 1", kRows},
      {"((SELECT 1) UNION (SELECT 2))", kRows},
      {"( /* c */ (-- c\n Select 1))", kRows},
      {"WITH c AS (SELECT 1) SELECT * FROM c", kRows},
      {"VALUES (1), (2)", kRows},
      {"TABLE t", kRows},
      {"show search_path", kRows},
      {"EXPLAIN QUERY PLAN SELECT 1", kRows},
      {"DESCRIBE t", kRows},
      {"PRAGMA table_info(t)", kRows},
      {"INSERT INTO t SELECT * FROM u", kCommand},
      {"CREATE TABLE t (a INTEGER)", kCommand},
      {"-- SELECT\nDELETE FROM t", kCommand},
      {"/* SELECT */ DELETE FROM t", kCommand},
      {"SELECTED_ROWS", kCommand},     // a longer word is not the keyword
      {"SELECT\xC3\xA9", kRows},       // words are ASCII: a non-ASCII letter ends one
      {"\xC2\xA0SELECT 1", kCommand},  // a no-break space is no white space
      {"(", kCommand},
      {"WITHIN", kCommand},
      {"'SELECT' AS x", kCommand},  // a quote is no word
      {"/* SELECT 1", kCommand},    // an unclosed comment hides the rest
      {"", kCommand},
      {"   ", kCommand},
  };
  for (const KindCase& c : cases) EXPECT_EQ(StatementKindOf(c.sql), c.kind) << c.sql;
}

TEST(StatementKindTest, ReturningAsAWordOutsideQuotesAndComments) {
  const KindCase cases[] = {
      {"INSERT INTO t VALUES (1) RETURNING id", kRows},
      {"delete from t returning *", kRows},
      {"UPDATE t SET a = 1\nReturning\ta", kRows},
      {"INSERT INTO t VALUES ('it''s') RETURNING id", kRows},  // a doubled quote stays quoted
      {"INSERT INTO t(a) VALUES (1)RETURNING(a)", kRows},
      {"UPDATE t SET note = 'RETURNING'", kCommand},
      {"UPDATE t SET a = 'it''s RETURNING'", kCommand},
      {"UPDATE t SET \"returning\" = 1", kCommand},
      {"INSERT INTO t VALUES (1) -- RETURNING id", kCommand},
      {"INSERT INTO t VALUES (1) /* RETURNING id */", kCommand},
      {"UPDATE t SET returning_count = 1", kCommand},
      {"UPDATE t SET x_returning = 1", kCommand},
      {"INSERT INTO t VALUES ('unclosed RETURNING", kCommand},
  };
  for (const KindCase& c : cases) EXPECT_EQ(StatementKindOf(c.sql), c.kind) << c.sql;
}

TEST(StatementKindTest, PragmaReturnsRowsOnlyWithoutAnAssignment) {
  const KindCase cases[] = {
      {"PRAGMA journal_mode", kRows},
      {"pragma journal_mode=WAL", kCommand},
      {"PRAGMA user_version = 3", kCommand},
      {"PRAGMA table_info('a=b')", kRows},  // = inside quotes
      {"PRAGMA table_info(\"a=b\")", kRows},
      {"PRAGMA table_info(t) -- x=1", kRows},  // = inside a comment
      {"PRAGMA table_info(t) /* = */", kRows},
      {"SELECT a = 1 FROM t", kRows},  // = matters for PRAGMA alone
  };
  for (const KindCase& c : cases) EXPECT_EQ(StatementKindOf(c.sql), c.kind) << c.sql;
}

TEST(StatementKindTest, TheCallerForcesEitherWay) {
  EXPECT_EQ(StatementKindOf("DELETE FROM t", StatementRun::AsRows), kRows);
  EXPECT_EQ(StatementKindOf("SELECT 1", StatementRun::AsCommand), kCommand);
  EXPECT_EQ(StatementKindOf("SELECT 1", StatementRun::ByText), kRows);
  EXPECT_EQ(StatementKindOf("DELETE FROM t", StatementRun::ByText), kCommand);
}

}  // namespace
}  // namespace velmora::test
