// SQLParams2OleVariant and ExecSQLParamSets through the running server, on SQLite and on
// PostgreSQL: values that would end a string, open a comment or start a new statement if they
// were written into the text reach the engine as values and come back unchanged, and a command
// run for many parameter sets applies all of them or none.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "client/velmora_client.h"
#include "db/core/positional_markers.h"
#include "services/uServerModule.h"
#include "tests/support/pg_server.h"
#include "tests/support/server_fixture.h"

namespace velmora::test {
namespace {

using namespace std::string_literals;

enum class Engine { kSQLite, kPostgreSQL };

std::ostream& operator<<(std::ostream& out, Engine engine) {
  return out << (engine == Engine::kSQLite ? "SQLite" : "PostgreSQL");
}

// One text value bound to each marker: "?" in order, or the named markers v, v2, v3 ...
TParams TextParams(std::initializer_list<std::string> values) {
  TParams params;
  for (const std::string& value : values) {
    const std::string name = params.Count() == 0 ? "v" : "v" + std::to_string(params.Count() + 1);
    params.CreateParam(ftWideString, name, ptInput).SetValue(OleVariant(value));
  }
  return params;
}

TParams RowParams(int32_t a, const std::string& b, double c) {
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(a));
  params.CreateParam(ftWideString, "B", ptInput).SetValue(OleVariant(b));
  params.CreateParam(ftFloat, "C", ptInput).SetValue(OleVariant(c));
  return params;
}

class BoundCalls : public ServerFixture, public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    if (GetParam() == Engine::kPostgreSQL) {
      const std::optional<PgServer> server = SharedPgServer();
      if (!server) GTEST_SKIP() << "no PostgreSQL server (run under ctest)";
      pg_.emplace(*server);
      WriteDatabaseConfig({pg_->ConnectionLines()});
    }
    client_.Connect("127.0.0.1", Port(), kUser, kPassword);
    Exec("CREATE TABLE victim (id INTEGER)");
    Exec("CREATE TABLE rows3 (a INTEGER PRIMARY KEY, b VARCHAR(200) NOT NULL, c FLOAT)");
  }

  bool OnPg() const { return GetParam() == Engine::kPostgreSQL; }

  void Exec(const std::string& sql) {
    std::string err;
    client_.ExecSQL(sql, err);
    ASSERT_EQ(err, "") << sql;
  }

  // The one row of a query with bound values; ErrMsg in `err`.
  std::unique_ptr<TFDMemTable> Row(const std::string& sql, const TParams& params,
                                   std::string& err) {
    const OleVariant packet = client_.SQLParams2OleVariant(sql, params, err);
    if (!err.empty()) return nullptr;
    return Load(packet);
  }

  int64_t Count(const std::string& table) {
    std::string err;
    auto row = Row("SELECT COUNT(*) AS n FROM " + table, TParams(), err);
    EXPECT_EQ(err, "") << table;
    return row ? row->Fields(0).AsLargeInt() : -1;
  }

  std::optional<PgTestDatabase> pg_;
  TVelmoraClient client_;
};

struct InjectionCase {
  const char* label;
  bool pg_only;
  std::string sql;    // selects the bound value as V, and a literal of the text as G when given
  std::string value;  // bound to the one marker
  std::string g;      // the literal G, as the engine reads it ("" for none)
};

// Every case binds a value that would drop the table if it were written into the text; each must
// come back as it went, the text's own literals intact, and the table stay.
TEST_P(BoundCalls, NoValueChangesTheStatement) {
  const std::string drop = "' AS a; DROP TABLE victim; --";
  std::string longest;
  while (longest.size() < 1'000'000) longest += "'?;\\\"$$ /* -- ";
  const InjectionCase cases[] = {
      {"backslash-escaped quote in an E-string", true, "SELECT E'what\\'s up?' AS g, ? AS v", drop,
       "what's up?"},
      {"named marker after an E-string holding a colon name", true,
       "SELECT E'it\\'s :x' AS g, :v AS v", drop, "it's :x"},
      {"marker after an E-string holding a quote and a marker", true,
       "SELECT E'it\\'s ?' AS g, CAST(? AS text) AS v", drop, "it's ?"},
      {"marker-like text in a dollar body", true, "SELECT $q$ it's ? $q$ AS g, ? AS v", drop,
       " it's ? "},
      {"cast written as a doubled colon", true, "SELECT ?::::text AS v", "1'::text; " + drop, ""},
      {"quote and marker in a literal", false, "SELECT 'it''s ?' AS g, ? AS v", drop, "it's ?"},
      {"markers in comments", false, "SELECT /* ' ? */ ? AS v -- ' ?", drop, ""},
      {"cast of the value", false, "SELECT CAST(? AS VARCHAR(100)) AS v", "x'); " + drop, ""},
      {"named marker", false, "SELECT ':v' AS g, :v AS v", drop, ":v"},
      {"backslashes", false, "SELECT ? AS v", "\\'; DROP TABLE victim; --\\", ""},
      {"very long value", false, "SELECT ? AS v", longest, ""},
  };
  for (const InjectionCase& c : cases) {
    if (c.pg_only && !OnPg()) continue;
    SCOPED_TRACE(c.label);
    std::string err;
    auto row = Row(c.sql, TextParams({c.value}), err);
    ASSERT_EQ(err, "");
    EXPECT_EQ(row->FieldByName("V").AsString(), c.value);
    if (!c.g.empty()) {
      EXPECT_EQ(row->FieldByName("G").AsString(), c.g);
    }
    EXPECT_EQ(Count("victim"), 0);
  }

  // A NUL in a value: SQLite keeps it; PostgreSQL's text holds none, and the value is refused
  // rather than cut at the NUL. Neither runs more than the statement.
  const std::string nul = "a\0b"s + drop;
  std::string err;
  auto row = Row("SELECT ? AS v", TextParams({nul}), err);
  if (OnPg()) {
    EXPECT_EQ(err,
              "Parameter [1] holds a NUL character at byte 1; PostgreSQL text cannot hold one "
              "(send such data as bytes)");
  } else {
    ASSERT_EQ(err, "");
    EXPECT_EQ(row->FieldByName("V").AsString(), nul);
  }
  EXPECT_EQ(Count("victim"), 0);
  ExpectAllGivenBack();
}

// With standard_conforming_strings off, a backslash in a plain literal is an escape; a bound value
// is no literal, so its backslashes arrive as written.
TEST_P(BoundCalls, BackslashesSurviveWithoutStandardConformingStrings) {
  if (!OnPg()) GTEST_SKIP() << "a PostgreSQL setting";
  pg_->Psql("ALTER DATABASE \"" + pg_->Name() + "\" SET standard_conforming_strings = off");
  client_.Close();  // new sessions take the setting
  TVelmoraClient fresh;
  fresh.Connect("127.0.0.1", Port(), kUser, kPassword);
  std::vector<int64_t> per_set;
  std::string err;
  const TParams sets[] = {RowParams(1, "back\\slash", 0),
                          RowParams(2, "\\'; DROP TABLE victim; --", 0)};
  EXPECT_EQ(
      fresh.ExecSQLParamSets("INSERT INTO rows3 (a, b, c) VALUES (?, ?, ?)", sets, per_set, err),
      2);
  EXPECT_EQ(err, "");
  EXPECT_EQ(pg_->Psql("SHOW standard_conforming_strings"), "off\n");
  EXPECT_EQ(pg_->Psql("SELECT b FROM rows3 ORDER BY a"),
            "back\\slash\n\\'; DROP TABLE victim; --\n");
  EXPECT_EQ(pg_->Psql("SELECT count(*) FROM victim"), "0\n");
}

TEST_P(BoundCalls, ParameterSetsRunInOneTransaction) {
  std::vector<int64_t> per_set;
  std::string err;
  const TParams rows[] = {RowParams(1, "one", 1.5), RowParams(2, "two's", 2.5),
                          RowParams(3, "three", 3.5)};
  EXPECT_EQ(
      client_.ExecSQLParamSets("INSERT INTO rows3 (a, b, c) VALUES (?, ?, ?)", rows, per_set, err),
      3);
  EXPECT_EQ(err, "");
  EXPECT_EQ(per_set, (std::vector<int64_t>{1, 1, 1}));

  // Named markers bind by name, in any order and letter case; rows affected per set.
  TParams at_most_one, at_most_three;
  at_most_one.CreateParam(ftInteger, "limit", ptInput).SetValue(OleVariant(int32_t{1}));
  at_most_one.CreateParam(ftWideString, "NEW", ptInput).SetValue(OleVariant("x"));
  at_most_three.CreateParam(ftWideString, "new", ptInput).SetValue(OleVariant("y"));
  at_most_three.CreateParam(ftInteger, "Limit", ptInput).SetValue(OleVariant(int32_t{3}));
  const TParams updates[] = {at_most_one, at_most_three};
  EXPECT_EQ(client_.ExecSQLParamSets("UPDATE rows3 SET b = :New WHERE a <= :LIMIT", updates,
                                     per_set, err),
            4);
  EXPECT_EQ(err, "");
  EXPECT_EQ(per_set, (std::vector<int64_t>{1, 3}));

  // A set that fails half-way takes the ones before it along: nothing of the call stays.
  const TParams clash[] = {RowParams(10, "ten", 0), RowParams(11, "eleven", 0),
                           RowParams(10, "ten again", 0), RowParams(12, "twelve", 0)};
  EXPECT_EQ(
      client_.ExecSQLParamSets("INSERT INTO rows3 (a, b, c) VALUES (?, ?, ?)", clash, per_set, err),
      0);
  EXPECT_EQ(err.rfind("Parameter set 3 of 4: ", 0), 0u) << err;
  EXPECT_TRUE(per_set.empty());
  EXPECT_EQ(Count("rows3"), 3);
  std::string read_err;
  auto row = Row("SELECT b FROM rows3 WHERE a = ?", TParams(), read_err);
  EXPECT_NE(read_err, "");  // one marker, no value: refused, not bound as NULL
  TParams two;
  two.CreateParam(ftInteger, "", ptInput).SetValue(OleVariant(int32_t{2}));
  row = Row("SELECT b FROM rows3 WHERE a = ?", two, read_err);
  ASSERT_EQ(read_err, "");
  EXPECT_EQ(row->FieldByName("B").AsString(), "y");
  ExpectAllGivenBack();
}

INSTANTIATE_TEST_SUITE_P(Engines, BoundCalls,
                         ::testing::Values(Engine::kSQLite, Engine::kPostgreSQL),
                         [](const ::testing::TestParamInfo<Engine>& engine) {
                           return engine.param == Engine::kSQLite ? "SQLite" : "PostgreSQL";
                         });

// What the methods refuse, with the message the caller gets; nothing runs.
using BoundCallRefusals = ServerFixture;

TEST_F(BoundCallRefusals, WhatCannotBeBoundIsRefusedAndNothingRuns) {
  TVelmoraClient client;
  client.Connect("127.0.0.1", Port(), kUser, kPassword);
  struct Refusal {
    std::string sql;
    TParams params;
    std::string message;
  };
  TParams named_b;
  named_b.CreateParam(ftInteger, "b", ptInput).SetValue(OleVariant(int32_t{1}));
  const Refusal refusals[] = {
      {"SELECT ? AS v, :x AS w", TextParams({"1", "2"}), kMixedMarkersMessage},
      {"SELECT ? AS v, ? AS w", TextParams({"1"}),
       "The command text has 2 parameter markers; 1 values given"},
      {"SELECT ? AS v", TextParams({"1", "2"}),
       "The command text has 1 parameter markers; 2 values given"},
      {"SELECT :a AS v", named_b, "Parameter [a] has no value"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.sql);
    std::string err;
    EXPECT_TRUE(client.SQLParams2OleVariant(r.sql, r.params, err).IsEmpty());
    EXPECT_EQ(err, r.message);
    std::vector<int64_t> per_set;
    const TParams sets[] = {r.params};
    EXPECT_EQ(client.ExecSQLParamSets(r.sql, sets, per_set, err), 0);
    EXPECT_EQ(err, "Parameter set 1 of 1: " + r.message);
  }

  // More sets than the server takes in one call: refused before anything runs.
  std::vector<TParams> many(kMaxParamSets + 1);
  std::vector<int64_t> per_set;
  std::string err;
  EXPECT_EQ(client.ExecSQLParamSets("DELETE FROM BIG_TABLE", many, per_set, err), 0);
  EXPECT_EQ(err, "100001 parameter sets are more than the server's limit of 100000");
  EXPECT_EQ(ServerFixture::Load(client.SQL2OleVariant("SELECT COUNT(*) AS n FROM BIG_TABLE", err))
                ->Fields(0)
                .AsInteger(),
            kBigRows);
  ExpectAllGivenBack();
}

}  // namespace
}  // namespace velmora::test
