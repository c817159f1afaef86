// The differential check on the file engines: SQLite, and SQLite through ODBC, each compared with
// sqlite3 on the same file. A fixed seed and a few seconds here; scripts/differential.sh runs it
// for as long as asked with any seed (VELMORA_DIFF_SEED, VELMORA_DIFF_SECONDS).
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tests/db/differential/differential_run.h"
#include "tests/support/server_fixture.h"

namespace velmora::test::differential {
namespace {

constexpr uint64_t kSeed = 2;
constexpr double kSeconds = 3;

class Differential : public ServerFixture {
 protected:
  void SetUp() override {
    // Zoned values are compared in UTC, and the server gives them in this process's zone.
    setenv("TZ", "UTC", 1);
    tzset();
    ServerFixture::SetUp();
  }

  void Check(const std::string& driver_lines) {
    const std::string path = DatabasePath();
    WriteServerDatabase(dir_.Path(), driver_lines + "\nDatabase=" + path);
    auto server = OpenServerSession(Port(), kUser, kPassword);
    RunSettings settings;
    settings.dialect = Dialect::kSQLite;
    settings.seed = kSeed;
    settings.seconds = kSeconds;
    settings.server = server.get();
    settings.open_engine = [path] { return OpenSqliteSession(path); };
    ExpectAgreement(settings);
  }
};

TEST_F(Differential, SQLite) {
  Check("DriverID=SQLite");
}

TEST_F(Differential, OdbcSQLite) {
  Check("DriverID=ODBC\nODBCDriver=SQLite3");
}

}  // namespace
}  // namespace velmora::test::differential
