// The differential check on PostgreSQL, native and through ODBC, each compared with libpq on the
// same database. A fixed seed and a few seconds here; scripts/differential.sh runs it for as long
// as asked with any seed (VELMORA_DIFF_SEED, VELMORA_DIFF_SECONDS).
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tests/db/differential/differential_run.h"
#include "tests/db/odbc/odbc_pg_support.h"
#include "tests/support/pg_server.h"
#include "tests/support/server_fixture.h"

namespace velmora::test::differential {
namespace {

constexpr uint64_t kSeed = 2;
constexpr double kSeconds = 3;

class DifferentialPg : public ServerFixture {
 protected:
  void SetUp() override {
    // Zoned values are compared in UTC, and the server gives them in this process's zone.
    setenv("TZ", "UTC", 1);
    tzset();
    ServerFixture::SetUp();
  }

  void Check(const PgTestDatabase& db, const std::string& lines) {
    WriteServerDatabase(dir_.Path(), lines);
    auto server = OpenServerSession(Port(), kUser, kPassword);
    const std::string conninfo = "host=127.0.0.1 port=" + std::to_string(db.Server().port) +
                                 " dbname=" + db.Name() + " user=" + db.Server().user +
                                 " options='-c TimeZone=UTC'";
    RunSettings settings;
    settings.dialect = Dialect::kPg;
    settings.seed = kSeed;
    settings.seconds = kSeconds;
    settings.server = server.get();
    settings.open_engine = [conninfo] { return OpenPgSession(conninfo); };
    ExpectAgreement(settings);
  }
};

TEST_F(DifferentialPg, Pg) {
  REQUIRE_PG_SERVER(server);
  PgTestDatabase db(server);
  Check(db, db.ConnectionLines());
}

TEST_F(DifferentialPg, OdbcPg) {
  REQUIRE_PG_SERVER(server);
  PgTestDatabase db(server);
  Check(db, OdbcPgLines(db));
}

}  // namespace
}  // namespace velmora::test::differential
