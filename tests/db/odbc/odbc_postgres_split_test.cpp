// PostgreSQL's texts split for its ODBC driver: dollar-quoted bodies are read through whole, and
// only where PostgreSQL would open one.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "db/core/command_text.h"
#include "db/odbc/odbc_text.h"

namespace velmora::test {
namespace {

TEST(OdbcPostgresSplit, KeepsBodiesWhole) {
  const struct {
    const char* name;
    const char* sql;
    std::vector<std::string> statements;
    std::vector<int> markers;
  } cases[] = {
      {"a body holds ; and ?",
       "CREATE FUNCTION f(n int) RETURNS int AS $$ BEGIN n := n * 2; RETURN n ? 1; END $$ "
       "LANGUAGE plpgsql; SELECT f(?)",
       {"CREATE FUNCTION f(n int) RETURNS int AS $$ BEGIN n := n * 2; RETURN n ? 1; END $$ "
        "LANGUAGE plpgsql",
        " SELECT f(?)"},
       {0, 1}},
      {"tagged bodies, one holding the other's tag",
       "DO $a$ BEGIN PERFORM $$x;y$$; END $a$; DO $b$ BEGIN NULL; END $b$",
       {"DO $a$ BEGIN PERFORM $$x;y$$; END $a$", " DO $b$ BEGIN NULL; END $b$"},
       {0, 0}},
      {"$ in literals, names, comments and positional markers opens nothing",
       "SELECT '$$;', \"$$\", a$b$c, $1 /* $$ */ -- $$\n; SELECT 2",
       {"SELECT '$$;', \"$$\", a$b$c, $1    ", " SELECT 2"},
       {0, 0}},
      {"an unclosed body runs to the end of the text",
       "SELECT 1; SELECT $$a; b",
       {"SELECT 1", " SELECT $$a; b"},
       {0, 0}},
      {"a rule's actions in parentheses",
       "CREATE RULE r AS ON INSERT TO t DO ALSO (INSERT INTO l VALUES (?); DELETE FROM l); "
       "SELECT 2",
       {"CREATE RULE r AS ON INSERT TO t DO ALSO (INSERT INTO l VALUES (?); DELETE FROM l)",
        " SELECT 2"},
       {1, 0}},
      {"without bodies the plain split",
       "INSERT INTO t VALUES (?); DELETE FROM t",
       {"INSERT INTO t VALUES (?)", " DELETE FROM t"},
       {1, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<TOdbcStatementText> split = SplitOdbcStatements(c.sql, kPostgresSqlDialect);
    std::vector<std::string> statements;
    std::vector<int> markers;
    for (const TOdbcStatementText& s : split) {
      statements.push_back(s.sql);
      markers.push_back(s.markers);
    }
    EXPECT_EQ(statements, c.statements);
    EXPECT_EQ(markers, c.markers);
  }
}

// Where the bodies lie, as PostgreSQL reads the text around them.
TEST(OdbcPostgresSplit, FindsBodiesOutsideLiteralsAndComments) {
  const auto bodies_of = [](std::string_view text) {
    std::vector<TTextRange> bodies;
    TSqlLexer lexer(text, kPostgresSqlDialect);
    for (TSqlToken token; lexer.Next(token);) {
      if (token.kind == TSqlTokenKind::kDollarBody) bodies.push_back({token.begin, token.end});
    }
    return bodies;
  };
  const struct {
    const char* text;
    std::vector<TTextRange> bodies;
  } cases[] = {
      {"SELECT $$a$$, $t$b$t$", {{7, 12}, {14, 21}}},
      {"SELECT E'\\'$$', $$x$$", {{16, 21}}},    // a backslash escapes the quote in E'..'
      {"SELECT 'a\\', $$x$$", {{13, 18}}},       // but not in a standard literal
      {"/* /* $$ */ $$ */ $1 $$x", {{21, 24}}},  // comments nest; $1 is a marker
      {"SELECT $9x$ $a b$", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bodies_of(c.text), c.bodies) << c.text;
  }
}

}  // namespace
}  // namespace velmora::test
