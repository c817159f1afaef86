// The PostgreSQL test support itself: a database per case, psql errors raised, a private cluster
// that stops and starts again on its port.
#include "tests/support/pg_server.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace velmora::test {
namespace {

TEST(PgServerSupport, EachDatabaseIsFreshAndGoesAway) {
  REQUIRE_PG_SERVER(server);
  std::string name;
  {
    PgTestDatabase db(server);
    name = db.Name();
    db.Psql("CREATE TABLE t (id int); INSERT INTO t VALUES (1), (2)");
    EXPECT_EQ(db.Psql("SELECT count(*) FROM t"), "2\n");
    EXPECT_THROW(db.Psql("SELECT * FROM missing_table"), std::runtime_error);
  }
  EXPECT_EQ(RunPsql(server, "postgres",
                    "SELECT count(*) FROM pg_database WHERE datname = '" + name + "'"),
            "0\n");
}

TEST(PgServerSupport, APrivateClusterStopsAndStartsOnItsPort) {
  PgCluster cluster;
  EXPECT_EQ(RunPsql(cluster.Server(), "postgres", "SELECT 1"), "1\n");
  cluster.Pause();
  EXPECT_THROW(RunPsql(cluster.Server(), "postgres", "SELECT 1"), std::runtime_error);
  cluster.Resume();
  EXPECT_EQ(RunPsql(cluster.Server(), "postgres", "SELECT 2"), "2\n");
}

}  // namespace
}  // namespace velmora::test
