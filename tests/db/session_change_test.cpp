// Which statements make a pooled session unfit for its next caller as it stands (its settings,
// temporary objects and the like changed), read by each engine's rules with the SQL lexer.
#include <gtest/gtest.h>

#include "db/pg/pg_session_change.h"
#include "db/sqlite/sqlite_session_change.h"

namespace velmora::test {
namespace {

struct ChangeCase {
  const char* statement;
  bool changes;
};

TEST(SessionChange, PostgreSqlStatements) {
  const ChangeCase cases[] = {
      {"SET standard_conforming_strings = off", true},
      {"  /* c */ set DateStyle TO 'German'", true},
      {"SET SESSION AUTHORIZATION DEFAULT", true},
      {"SET ROLE reader", true},
      {"SET search_path = other", true},
      {"RESET ALL", true},
      {"DISCARD TEMP", true},
      {"DEALLOCATE ALL", true},
      {"PREPARE p AS SELECT 1", true},
      {"LISTEN jobs", true},
      {"LOAD 'auto_explain'", true},
      {"DECLARE c CURSOR WITH HOLD FOR SELECT 1", true},
      {"DO $$ BEGIN PERFORM 1; END $$", true},
      {"CREATE TEMP TABLE t (i int)", true},
      {"CREATE GLOBAL TEMPORARY TABLE t (i int)", true},
      {"CREATE TABLE pg_temp.t (i int)", true},
      {"CREATE VIEW \"pg_temp\".v AS SELECT 1", true},
      {"SELECT * INTO TEMP t FROM u", true},
      {"SELECT set_config('TimeZone', 'UTC', false)", true},
      {"SELECT pg_advisory_lock(1)", true},
      {"SELECT pg_try_advisory_lock_shared(1, 2)", true},
      // Transaction-scoped, or only reading.
      {"SET LOCAL statement_timeout = 0", false},
      {"SET TRANSACTION ISOLATION LEVEL SERIALIZABLE", false},
      {"SET CONSTRAINTS ALL DEFERRED", false},
      {"SHOW TimeZone", false},
      {"SELECT current_setting('TimeZone')", false},
      {"SELECT pg_advisory_xact_lock(1)", false},
      {"UPDATE t SET a = 1", false},
      {"SELECT 'SET x = 1', \"temp\" FROM t -- RESET ALL", false},
      {"CREATE TABLE t (i int)", false},
      {"SELECT $$DISCARD ALL$$", false},
  };
  for (const ChangeCase& c : cases) {
    EXPECT_EQ(ChangesPgSession(c.statement), c.changes) << c.statement;
  }
}

constexpr TSqlDialect kSQLite{
    .bracket_names = true, .backtick_names = true, .dollar_in_words = true};

TEST(SessionChange, SQLiteStatements) {
  const ChangeCase cases[] = {
      {"PRAGMA foreign_keys = OFF", true},
      {"pragma case_sensitive_like=1", true},
      {"PRAGMA main.cache_size(100)", true},
      {"PRAGMA busy_timeout = 0;", true},
      {"ATTACH DATABASE 'other.db' AS o", true},
      {"DETACH o", true},
      {"CREATE TEMP TABLE t (i)", true},
      {"CREATE TEMPORARY VIEW v AS SELECT 1", true},
      {"CREATE TABLE temp.t (i)", true},
      // Reading.
      {"PRAGMA foreign_keys", false},
      {"PRAGMA table_info(T)", false},
      {"PRAGMA main.index_list('T')", false},
      {"PRAGMA integrity_check", false},
      {"SELECT * FROM pragma_table_info('T')", false},
      {"SELECT 'PRAGMA x = 1', [temp] FROM T", false},
      {"UPDATE T SET A = 1 -- ATTACH", false},
  };
  for (const ChangeCase& c : cases) {
    EXPECT_EQ(ChangesSQLiteSession(c.statement, kSQLite), c.changes) << c.statement;
  }
}

}  // namespace
}  // namespace velmora::test
