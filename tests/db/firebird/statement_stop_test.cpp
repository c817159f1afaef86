// Firebird sessions that can no longer be trusted: a database shut down under them, a database
// file deleted. (The time-out and cancel of a running statement are conformance cases, run on every
// engine: tests/db/conformance.)
#include <gtest/gtest.h>
#include <unistd.h>

#include "common/app_path.h"
#include "db/firebird/fb_api.h"
#include "db/firebird/fb_connection.h"
#include "dbpool/uFDConnPool.h"
#include "tests/db/firebird/fb_test_support.h"

namespace velmora::test {
namespace {

using FbStatementStop = FbTest;

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
