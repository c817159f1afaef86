// PostgreSQL command text without a server: "?" markers to $n, statements cut at ";" where the
// engine would end them, and the libpq connection string built from DataBase.CFG lines.
#include "db/pg/pg_command_text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "db/core/db_error.h"
#include "db/core/driver.h"
#include "db/pg/libpq_api.h"
#include "db/pg/pg_connection.h"

namespace velmora {
namespace {

std::vector<std::string> Sqls(const std::vector<TPgStatement>& statements) {
  std::vector<std::string> out;
  for (const TPgStatement& s : statements) out.push_back(s.sql);
  return out;
}

struct SplitCase {
  const char* text;
  size_t markers;
  std::vector<std::string> expected;
};

TEST(PgCommandText, MarkersAndStatementEnds) {
  const SplitCase cases[] = {
      {"SELECT ?", 1, {"SELECT $1"}},
      {"UPDATE t SET a=? WHERE b=?; DELETE FROM t WHERE c=?",
       3,
       {"UPDATE t SET a=$1 WHERE b=$2", " DELETE FROM t WHERE c=$1"}},
      // Literals, quoted identifiers and comments hold neither markers nor statement ends.
      {"SELECT '?;', \"a?;b\", ? -- ?;\n/* ; ? /* nested ; */ ? */",
       1,
       {"SELECT '?;', \"a?;b\", $1 -- ?;\n/* ; ? /* nested ; */ ? */"}},
      {"SELECT 'it''s ?', E'\\' ?;', ?", 1, {"SELECT 'it''s ?', E'\\' ?;', $1"}},
      // Dollar-quoted bodies, with or without a tag; $1 written by hand is no dollar quote.
      {"SELECT $$ ? ; $$, $fn$ ;?$$ $fn$, ?", 1, {"SELECT $$ ? ; $$, $fn$ ;?$$ $fn$, $1"}},
      // PostgreSQL's own operators that can be told from markers.
      {"SELECT j ?| array['a'], j ?& array['b'], p ?# q, j @? '$.a', j OPERATOR(pg_catalog.?) "
       "'k', ?",
       1,
       {"SELECT j ?| array['a'], j ?& array['b'], p ?# q, j @? '$.a', j OPERATOR(pg_catalog.?) "
        "'k', $1"}},
      // "?||" is a marker followed by concatenation.
      {"SELECT ?||'x'", 1, {"SELECT $1||'x'"}},
      // Without parameters nothing is a marker: the jsonb key operator passes as written.
      {"SELECT '{\"a\":1}'::jsonb ? 'a'", 0, {"SELECT '{\"a\":1}'::jsonb ? 'a'"}},
      // Empty statements and trailing blanks are dropped.
      {" ; SELECT 1;; -- done\n ; ", 0, {" SELECT 1"}},
      // A BEGIN ATOMIC body of CREATE FUNCTION / PROCEDURE holds ";", CASE ... END nests.
      {"CREATE OR REPLACE FUNCTION f(a int) RETURNS int LANGUAGE sql BEGIN ATOMIC "
       "SELECT CASE WHEN a > 0 THEN 1 ELSE 0 END; SELECT 2; END; SELECT f(?)",
       1,
       {"CREATE OR REPLACE FUNCTION f(a int) RETURNS int LANGUAGE sql BEGIN ATOMIC "
        "SELECT CASE WHEN a > 0 THEN 1 ELSE 0 END; SELECT 2; END",
        " SELECT f($1)"}},
      // A rule's actions in parentheses are one statement, as psql sends it.
      {"CREATE RULE r AS ON INSERT TO t DO ALSO (INSERT INTO l VALUES (1); DELETE FROM l); "
       "SELECT ?",
       1,
       {"CREATE RULE r AS ON INSERT TO t DO ALSO (INSERT INTO l VALUES (1); DELETE FROM l)",
        " SELECT $1"}},
      // Outside a routine BEGIN is a statement of its own.
      {"BEGIN; UPDATE t SET a = ?; COMMIT", 1, {"BEGIN", " UPDATE t SET a = $1", " COMMIT"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(Sqls(SplitPgCommandText(c.text, c.markers)), c.expected) << c.text;
  }
}

TEST(PgCommandText, EachStatementKnowsItsMarkersAndWhetherItGivesRows) {
  const auto s = SplitPgCommandText(
      "INSERT INTO t VALUES (?, ?); select * from t where a = ?;"
      "WITH x AS (SELECT 1) DELETE FROM t; (SELECT ?)",
      4);
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].first_marker, 0u);
  EXPECT_EQ(s[0].marker_count, 2u);
  EXPECT_FALSE(s[0].returns_rows);
  EXPECT_EQ(s[1].first_marker, 2u);
  EXPECT_EQ(s[1].marker_count, 1u);
  EXPECT_TRUE(s[1].returns_rows);
  EXPECT_EQ(s[2].marker_count, 0u);
  EXPECT_FALSE(s[2].returns_rows);  // WITH may write: described before it runs
  EXPECT_EQ(s[3].first_marker, 3u);
  EXPECT_TRUE(s[3].returns_rows);
}

// A text without parameters and without ";" is taken whole, without the splitter's walk: it must
// come out as the walk makes it, which a ";" added at its end forces.
TEST(PgCommandText, OneStatementWithoutParametersComesOutAsTheSplitterMakesIt) {
  const char* const texts[] = {
      "SELECT * FROM big_table WHERE id = 42",
      "  select '?' AS q, \"a?b\" /* ? */",
      "(SELECT 1) UNION (SELECT 2)",
      "WITH x AS (SELECT 1) DELETE FROM t",
      "INSERT INTO t VALUES (1) RETURNING *",
      "SELECT $$ a $$, $fn$ b $fn$",
      "/* only a comment */  \n ",
      "",
  };
  for (const char* text : texts) {
    const auto whole = SplitPgCommandText(text, 0);
    const auto walked = SplitPgCommandText(std::string(text) + ";", 0);
    ASSERT_EQ(Sqls(whole), Sqls(walked)) << text;
    for (size_t i = 0; i < whole.size(); ++i) {
      EXPECT_EQ(whole[i].returns_rows, walked[i].returns_rows) << text;
      EXPECT_EQ(whole[i].marker_count, 0u) << text;
    }
  }
  EXPECT_TRUE(SplitPgCommandText("select 1", 0).at(0).returns_rows);
  EXPECT_FALSE(SplitPgCommandText("WITH x AS (SELECT 1) SELECT * FROM x", 0).at(0).returns_rows);
  EXPECT_TRUE(SplitPgCommandText(" -- nothing", 0).empty());
}

// The dollar-quoted bodies a PostgreSQL session's dialect gives the command-text layer to take as
// written: where a quote opens by the same rules the splitter reads, and nowhere else.
TEST(PgCommandText, DollarQuotedBodiesAreFoundByTheSplittersRules) {
  struct BodyCase {
    const char* name;
    const char* text;
    const char* sql;
    std::vector<std::string> names;
  };
  const BodyCase cases[] = {
      {"none", "SELECT :a::int", "SELECT ?:int", {"a"}},
      {"plain and tagged",
       "CREATE FUNCTION f() RETURNS int AS $$ SELECT 1::int $$; SELECT $fn$ :x $$ $fn$",
       "CREATE FUNCTION f() RETURNS int AS $$ SELECT 1::int $$; SELECT $fn$ :x $$ $fn$",
       {}},
      {"inside a literal, identifier or comment",
       "SELECT '$$', \"a$$\" -- $$\n/* $$ */ :p",
       "SELECT '$$', \"a$$\" -- $$\n/* $$ */ ?",
       {"p"}},
      {"part of an identifier", "SELECT a$b$, :p FROM t", "SELECT a$b$, ? FROM t", {"p"}},
      {"unterminated runs to the end", "DO $x$ BEGIN :y", "DO $x$ BEGIN :y", {}},
  };
  for (const BodyCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TCommandText out = PreprocessCommandText(c.text, RenderEscapePlain, kPgDialect);
    EXPECT_EQ(out.sql, c.sql);
    EXPECT_EQ(out.names, c.names);
  }
}

TEST(PgCommandText, MarkerCountMustMatchTheParameters) {
  try {
    SplitPgCommandText("SELECT ?, ?", 3);
    FAIL() << "no error";
  } catch (const EFDException& e) {
    EXPECT_STREQ(e.what(),
                 "Command text holds 2 parameter markers for PostgreSQL but 3 parameters are "
                 "given");
  }
}

// The connection string read back by libpq itself.
std::map<std::string, std::string> Parsed(const std::string& conninfo) {
  const TLibPq& pq = LibPq();
  char* error = nullptr;
  PQconninfoOption* options = pq.conninfoParse(conninfo.c_str(), &error);
  EXPECT_NE(options, nullptr) << (error != nullptr ? error : "");
  std::map<std::string, std::string> out;
  for (PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o) {
    if (o->val != nullptr) out[o->keyword] = o->val;
  }
  if (options != nullptr) pq.conninfoFree(options);
  return out;
}

TEST(PgConnInfo, KeysMapQuotedAndDefaultsApply) {
  TStringList params;
  params.SetText(
      "DriverID=PG\nServer=db.example\nDatabase=sales db\nUser_Name=o'brien\n"
      "Password=p\\a ss'word\nSSLMode=require\noptions=-c search_path=app");
  const auto parsed = Parsed(BuildPgConnInfo(params));
  EXPECT_EQ(parsed.at("host"), "db.example");
  EXPECT_EQ(parsed.at("port"), "5432");
  EXPECT_EQ(parsed.at("dbname"), "sales db");
  EXPECT_EQ(parsed.at("user"), "o'brien");
  EXPECT_EQ(parsed.at("password"), "p\\a ss'word");
  EXPECT_EQ(parsed.at("sslmode"), "require");
  EXPECT_EQ(parsed.at("connect_timeout"), "10");
  EXPECT_EQ(parsed.at("client_encoding"), "UTF8");
  // The driver's own settings first (with this machine's time zone), the file's after them.
  const std::string options = parsed.at("options");
  EXPECT_EQ(options.rfind("-c DateStyle=ISO -c bytea_output=hex", 0), 0u) << options;
  EXPECT_TRUE(options.ends_with(" -c search_path=app")) << options;
  EXPECT_EQ(parsed.count("driverid"), 0u);

  params.SetText("DriverID=PG\nPort=6543\nconnect_timeout=3");
  const auto second = Parsed(BuildPgConnInfo(params));
  EXPECT_EQ(second.at("port"), "6543");
  EXPECT_EQ(second.at("connect_timeout"), "3");
  EXPECT_EQ(second.count("host"), 0u);  // the local socket
}

TEST(PgConnInfo, AnUnknownKeyFailsTheOpenWithLibpqsMessage) {
  TStringList params;
  params.SetText("DriverID=PG\nServer=127.0.0.1\nNoSuchOption=1");
  try {
    OpenDriverConnection(params);
    FAIL() << "opened";
  } catch (const EFDDBEngineException& e) {
    EXPECT_NE(std::string(e.what()).find("invalid connection option \"nosuchoption\""),
              std::string::npos)
        << e.what();
  }
}

// A listener that never answers: the open gives up at the login time-out instead of waiting
// forever.
TEST(PgConnInfo, ASilentServerFailsTheOpenAtTheLoginTimeOut) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(fd, 8), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
  TStringList params;
  params.SetText("DriverID=PG\nServer=127.0.0.1\nconnect_timeout=2\nPort=" +
                 std::to_string(ntohs(a.sin_port)));
  const auto started = std::chrono::steady_clock::now();
  try {
    OpenDriverConnection(params);
    ADD_FAILURE() << "opened";
  } catch (const EFDDBEngineException& e) {
    EXPECT_NE(std::string(e.what()).find("timeout expired"), std::string::npos) << e.what();
  }
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, std::chrono::milliseconds(1500));
  EXPECT_LT(took, std::chrono::seconds(6));
  ::close(fd);
}

}  // namespace
}  // namespace velmora
