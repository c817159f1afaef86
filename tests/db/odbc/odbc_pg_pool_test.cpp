// The connection pool on ODBC-to-PostgreSQL: with the server stopped under a running pool, the
// call on a pooled connection fails with the driver's message and that connection is dropped,
// new ones fail to open; once the server is back the pool works again without a restart.
#include <gtest/gtest.h>

#include <string>

#include "common/app_path.h"
#include "dbpool/uFDConnPool.h"
#include "tests/db/odbc/odbc_pg_support.h"
#include "tests/db/odbc/odbc_test_support.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

TEST(OdbcPgPool, ServerGoneAndBackUnderARunningPool) {
  // A cluster of its own, to stop and start; run under ctest only, as the other cases.
  if (!SharedPgServer()) GTEST_SKIP() << "no PostgreSQL server (run under ctest)";
  PgCluster cluster;
  PgTestDatabase db(cluster.Server());
  TempDir app;
  SetAppPath(app.Path());
  std::string file;
  TStringList lines;
  lines.SetText(OdbcPgLines(db));
  for (const std::string& line : lines.Lines()) file += line + "\r\n";
  WriteFile(app.File("DataBase.CFG"), file);

  TFDConnectionPool pool(4, 200);
  TFDConnection* connection = pool.Lock();
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(Scalar(*connection, "SELECT 1"), "1");
  pool.Unlock(connection);

  cluster.Pause();
  connection = pool.Lock();  // the idle connection: handed out without a health check
  ASSERT_NE(connection, nullptr);
  const std::string message = ErrorOf([&] { Scalar(*connection, "SELECT 1"); });
  EXPECT_NE(message, "");
  EXPECT_NE(connection->UnusableReason(), "") << message;
  pool.Unlock(connection);
  EXPECT_EQ(pool.Count(), 0u);  // dropped, not kept
  std::string error;
  EXPECT_EQ(pool.Lock(&error), nullptr);
  EXPECT_NE(error.find("127.0.0.1"), std::string::npos) << error;

  cluster.Resume();
  connection = pool.Lock();
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(Scalar(*connection, "SELECT 2"), "2");
  pool.Unlock(connection);
}

}  // namespace
}  // namespace velmora::test
