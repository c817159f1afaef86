// Stopping a running Firebird statement from outside (time-out and cancel through
// fb_cancel_operation), and sessions that can no longer be trusted: a database shut down under
// them, a database file deleted.
#include "db/core/statement_stop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "common/app_path.h"
#include "db/firebird/fb_api.h"
#include "db/firebird/fb_connection.h"
#include "dbpool/uFDConnPool.h"
#include "tests/db/firebird/fb_test_support.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

// Billions of rows to count: runs for minutes unless stopped.
constexpr const char* kLongSelect =
    "SELECT COUNT(*) FROM RDB$FIELDS A, RDB$FIELDS B, RDB$FIELDS C, RDB$FIELDS D";
// A PSQL loop that never ends.
constexpr const char* kEndlessBlock =
    "EXECUTE BLOCK AS DECLARE I BIGINT = 0; BEGIN WHILE (1 = 1) DO I = I + 1; END";

class FbStatementStop : public FbTest {
 protected:
  // Runs `sql` (Open or ExecSQL) and returns its error and how long it ran.
  std::pair<std::string, std::chrono::milliseconds> Fails(const char* sql, bool open) {
    const auto start = std::chrono::steady_clock::now();
    const std::string message = ErrorOf([&] { open ? (void)Scalar(sql) : Exec(sql); });
    return {message, std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)};
  }
};

TEST_F(FbStatementStop, ALongStatementStopsAtItsTimeOutAndTheSessionGoesOn) {
  connection_.SetStatementTimeout(300ms);
  const std::pair<const char*, bool> cases[] = {{kLongSelect, true}, {kEndlessBlock, false}};
  for (const auto& [sql, open] : cases) {
    SCOPED_TRACE(sql);
    const auto [message, took] = Fails(sql, open);
    EXPECT_EQ(message, "Statement stopped: it ran longer than the statement time-out of 0.3 s");
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 5s);
    EXPECT_EQ(Scalar("SELECT 1 FROM RDB$DATABASE"), "1");
  }
  EXPECT_EQ(connection_.UnusableReason(), "");
}

TEST_F(FbStatementStop, ACancelStopsTheStatementAndHoldsUntilClearedButNeverStopsTheRollback) {
  connection_.SetStatementTimeout(0ms);
  Exec("CREATE TABLE T (ID INTEGER)");
  connection_.StartTransaction();
  Exec("INSERT INTO T VALUES (1)");
  std::thread other([this] {
    std::this_thread::sleep_for(300ms);
    connection_.Interrupt();
  });
  const auto [message, took] = Fails(kLongSelect, true);
  other.join();
  EXPECT_EQ(message, kStatementCancelledMessage);
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 5s);
  EXPECT_EQ(Fails("SELECT 1 FROM RDB$DATABASE", true).first, kStatementCancelledMessage);
  EXPECT_NO_THROW(connection_.Rollback());
  connection_.ClearInterrupt();
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM T"), "0");
}

// Attaches with a shut-down or online request, as gfix does, and detaches again. Returns the
// engine's error ("" when none): a full shut-down takes effect and then refuses the attachment
// that asked for it as well.
std::string AttachWith(const std::string& path, char request, char mode) {
  const TFbApi& api = FbApi();
  std::string dpb{static_cast<char>(isc_dpb_version1), static_cast<char>(isc_dpb_user_name), 6};
  dpb += "SYSDBA";
  dpb += {request, 1, mode};
  if (request == isc_dpb_shutdown) dpb += {static_cast<char>(isc_dpb_shutdown_delay), 1, 0};
  ISC_STATUS_ARRAY status{};
  isc_db_handle db = 0;
  if (api.isc_attach_database(status, 0, path.c_str(), &db, static_cast<short>(dpb.size()),
                              dpb.data()) != 0)
    return FbErrorText(api, status);
  api.isc_detach_database(status, &db);
  return "";
}

// A pooled session whose database was shut down fails with the engine's message, is dropped when
// given back, and the pool opens a working one once the database is back online.
TEST_F(FbStatementStop, ADatabaseShutDownUnderAPooledSessionMakesThePoolDropIt) {
  connection_.Close();  // the pool's connections are the only ones
  WriteFile(dir_.File("DataBase.CFG"),
            "DriverID=FB\r\nDatabase=" + db_path_ + "\r\nUser_Name=SYSDBA\r\n");
  const std::string saved_app_path = AppPath();
  SetAppPath(dir_.Root());
  TFDConnectionPool pool(30);
  const auto run = [](TFDConnection* c) {
    TFDQuery q;
    q.SetConnection(c);
    q.SQL().SetText("SELECT 1 FROM RDB$DATABASE");
    q.Open();
    return q.Fields(0).AsString();
  };
  TFDConnection* first = pool.Lock();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(run(first), "1");

  EXPECT_EQ(AttachWith(db_path_, isc_dpb_shutdown, isc_dpb_shut_force | isc_dpb_shut_full),
            "database " + db_path_ + " shutdown");
  EXPECT_EQ(first->UnusableReason(false), "");
  EXPECT_EQ(ErrorOf([&] { run(first); }), "connection shutdown");
  EXPECT_EQ(first->UnusableReason(false), "connection shutdown");
  pool.Unlock(first);
  EXPECT_EQ(pool.Count(), 0u);  // dropped, not kept for the next caller
  std::string error;
  EXPECT_EQ(pool.Lock(&error), nullptr);
  EXPECT_EQ(error, "database " + db_path_ + " shutdown");

  ASSERT_EQ(AttachWith(db_path_, isc_dpb_online, isc_dpb_shut_normal), "");
  TFDConnection* again = pool.Lock();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(run(again), "1");
  pool.Unlock(again);
  EXPECT_EQ(pool.Count(), 1u);
  SetAppPath(saved_app_path);
}

TEST_F(FbStatementStop, ADeletedDatabaseFileMakesTheSessionUnusable) {
  Exec("CREATE TABLE T (ID INTEGER)");
  EXPECT_EQ(connection_.UnusableReason(true), "");
  ASSERT_EQ(::unlink(db_path_.c_str()), 0);
  EXPECT_EQ(connection_.UnusableReason(false), "");  // not looked at
  const std::string deleted =
      "The database file was deleted since this connection opened it: " + db_path_;
  EXPECT_EQ(connection_.UnusableReason(true), deleted);
  // A write into the file nobody will read again is not acknowledged.
  EXPECT_EQ(ErrorOf([&] { Exec("INSERT INTO T VALUES (1)"); }), deleted);
  connection_.StartTransaction();
  Exec("INSERT INTO T VALUES (2)");
  EXPECT_EQ(ErrorOf([&] { connection_.Commit(); }), deleted);
  EXPECT_FALSE(connection_.InTransaction());
}

}  // namespace
}  // namespace velmora::test
