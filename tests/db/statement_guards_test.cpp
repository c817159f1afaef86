// What keeps one statement from holding a connection for good, and what keeps writes from being
// acknowledged into a database file nobody reads again: NUL in command text, the statement
// time-out and interrupt, engine-side rollbacks, opening only an existing file, and a file
// deleted or replaced under an open connection.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "common/server_limits.h"
#include "common/server_metrics.h"
#include "db/core/db_error.h"
#include "tests/db/sqlite_test_support.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Never ends by itself: counts without a bound.
constexpr const char* kRunaway =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT COUNT(*) FROM c";

class StatementGuards : public SQLiteTest {
 protected:
  // The message `sql` fails with, run by Open or ExecSQL, and how long it took.
  std::pair<std::string, Clock::duration> Fails(const std::string& sql, bool open) {
    const auto start = Clock::now();
    const std::string message = ErrorOf([&] {
      TFDQuery q;
      q.SetConnection(&connection_);
      q.SQL().SetText(sql);
      open ? q.Open() : q.ExecSQL();
    });
    return {message, Clock::now() - start};
  }
};

TEST_F(StatementGuards, NulInCommandTextIsRefusedAndTheConnectionGoesOn) {
  using namespace std::string_literals;
  const std::string texts[] = {"SELECT 1;\0"s, "\0"s, "SELECT 1; \0 SELECT 2"s,
                               "INSERT INTO BIG_TABLE (ID, NAME) VALUES (900, 'x')\0"s};
  for (const std::string& text : texts) {
    for (bool open : {true, false}) {
      SCOPED_TRACE(::testing::PrintToString(text) + (open ? " Open" : " ExecSQL"));
      const auto [message, took] = Fails(text, open);
      EXPECT_NE(message.find("NUL character at byte"), std::string::npos) << message;
      EXPECT_LT(took, 1s);
    }
  }
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BIG_TABLE WHERE ID = 900"), "0");
  Exec("INSERT INTO BIG_TABLE (ID, NAME) VALUES (901, 'after')");
  EXPECT_EQ(Scalar("SELECT NAME FROM BIG_TABLE WHERE ID = 901"), "after");
}

// Below the data-access layer's check, the driver refuses such text itself.
TEST_F(StatementGuards, TheDriverRefusesNulItself) {
  const std::string text("SELECT 1;\0SELECT 2", 18);
  EXPECT_THROW(connection_.Driver().CreateCommand(text), EFDException);
}

TEST_F(StatementGuards, ARunawayStatementStopsAtItsTimeOut) {
  struct Case {
    const char* name;
    std::optional<std::chrono::milliseconds> setting;
    std::chrono::seconds limit;  // Limits().StatementTimeout meanwhile
    const char* message;
  };
  const Case cases[] = {
      {"own setting", 200ms, 60s,
       "Statement stopped: it ran longer than the statement time-out of 0.2 s"},
      {"from Limits()", std::nullopt, 1s,
       "Statement stopped: it ran longer than the statement time-out of 1 s"},
  };
  const ServerLimits saved = Limits();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerLimits limits = saved;
    limits.StatementTimeout = c.limit;
    SetServerLimits(limits);
    connection_.SetStatementTimeout(c.setting);
    for (bool open : {true, false}) {
      const uint64_t timeouts = metrics::Metrics().statement_timeouts.Value();
      const auto [message, took] = Fails(kRunaway, open);
      EXPECT_EQ(message, c.message);
      EXPECT_LT(took, c.limit + 2s);
      EXPECT_EQ(metrics::Metrics().statement_timeouts.Value() - timeouts, 1u);
    }
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BIG_TABLE"), "50");  // the next statement runs
  }
  SetServerLimits(saved);
}

// With no time-out the statement runs on until another thread interrupts it.
TEST_F(StatementGuards, InterruptFromAnotherThreadStopsTheStatement) {
  connection_.SetStatementTimeout(0ms);
  std::thread other([this] {
    std::this_thread::sleep_for(300ms);
    connection_.Interrupt();
  });
  const auto [message, took] = Fails(kRunaway, true);
  other.join();
  EXPECT_EQ(message, kStatementCancelledMessage);
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 5s);
}

// An interrupt stays raised until cleared: the work of a cancelled call cannot start anew. The
// transaction it leaves can still be ended.
TEST_F(StatementGuards, AnInterruptHoldsUntilClearedButNeverStopsTheRollback) {
  connection_.StartTransaction();
  Exec("DELETE FROM BIG_TABLE");
  connection_.Interrupt();
  EXPECT_EQ(Fails("SELECT COUNT(*) FROM BIG_TABLE", true).first, kStatementCancelledMessage);
  EXPECT_NO_THROW(connection_.Rollback());
  connection_.ClearInterrupt();
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BIG_TABLE"), "50");
}

TEST_F(StatementGuards, RollbackAfterTheEngineRolledBackIsNotAnError) {
  Exec("CREATE TABLE T (ID INTEGER PRIMARY KEY)");
  Exec("INSERT INTO T VALUES (1)");
  Exec("CREATE TABLE G (V INT)");
  Exec("CREATE TRIGGER G_NO BEFORE INSERT ON G BEGIN SELECT RAISE(ROLLBACK, 'no G wanted'); END");
  const std::pair<const char*, const char*> cases[] = {
      {"INSERT OR ROLLBACK INTO T VALUES (1)", "UNIQUE constraint failed: T.ID"},
      {"INSERT INTO G VALUES (1)", "no G wanted"},
  };
  for (const auto& [sql, engine_message] : cases) {
    SCOPED_TRACE(sql);
    connection_.StartTransaction();
    Exec("INSERT INTO T VALUES (2)");
    EXPECT_EQ(Fails(sql, false).first, engine_message);
    EXPECT_FALSE(connection_.InTransaction());
    EXPECT_NO_THROW(connection_.Rollback());
    EXPECT_THROW(connection_.Rollback(), EFDException);  // none begun any more
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM T"), "1");
  }
}

TEST(SQLiteOpen, AMissingFileIsCreatedOnlyWhenTheParametersSaySo) {
  TempDir dir;
  const std::string path = dir.File("absent.db");
  struct Case {
    const char* extra;
    bool opens;
  };
  const Case cases[] = {{"", false}, {";CreateDatabase=No", false}, {";CreateDatabase=Yes", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    TFDConnection conn;
    conn.SetConnectionString("DriverID=SQLite;Database=" + path + c.extra);
    if (c.opens) {
      conn.Open();
      EXPECT_TRUE(std::filesystem::exists(path));
      continue;
    }
    try {
      conn.Open();
      ADD_FAILURE() << "opened a missing file";
    } catch (const EFDDBEngineException& e) {
      EXPECT_EQ(std::string(e.what()), "unable to open database file: " + path);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  TFDConnection bad;
  bad.SetConnectionString("DriverID=SQLite;Database=" + path + ";CreateDatabase=Perhaps");
  EXPECT_THROW(bad.Open(), EFDException);
}

// A connection whose file was deleted or replaced fails writes (in autocommit and at commit)
// instead of acknowledging them, and says it is not to be used again; reads are not refused.
TEST_F(StatementGuards, WritesThroughAStaleConnectionFail) {
  const std::string other = dir_.File("other.db");
  const struct {
    const char* name;
    void (*change)(const std::string& path, const std::string& other);
    const char* what;
  } cases[] = {
      {"deleted",
       [](const std::string& path, const std::string&) { std::filesystem::remove(path); },
       "deleted"},
      {"replaced",
       [](const std::string& path, const std::string& replacement) {
         self_host::CreateFixtureDatabase(replacement, 5);
         std::filesystem::rename(replacement, path);
       },
       "replaced"},
  };
  for (const auto& c : cases) {
    for (bool in_transaction : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (in_transaction ? " at commit" : " in autocommit"));
      self_host::CreateFixtureDatabase(db_path_, 50);
      TFDConnection conn;
      conn.SetConnectionString("DriverID=SQLite;Database=" + db_path_);
      conn.Open();
      EXPECT_EQ(conn.UnusableReason(), "");
      TFDQuery q;
      q.SetConnection(&conn);
      q.SQL().SetText("INSERT INTO BIG_TABLE (ID, NAME) VALUES (999, 'lost?')");
      if (in_transaction) {
        conn.StartTransaction();
        q.ExecSQL();
      }
      c.change(db_path_, other);
      const std::string expected = std::string("The database file was ") + c.what +
                                   " since this connection opened it: " + db_path_;
      try {
        in_transaction ? conn.Commit() : q.ExecSQL();
        ADD_FAILURE() << "the write was acknowledged";
      } catch (const EFDDBEngineException& e) {
        EXPECT_EQ(std::string(e.what()), expected);
      }
      EXPECT_FALSE(conn.InTransaction());
      EXPECT_EQ(conn.UnusableReason(), expected);
    }
  }
}

}  // namespace
}  // namespace velmora::test
