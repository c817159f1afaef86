// The health probe opens the configured database as the pool would, for every engine: a
// PostgreSQL file (whose lines libpq receives) opens, and a SQLite file that asks for creation
// is still never created by a probe.
#include "app/database_probe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "common/app_path.h"
#include "tests/support/pg_server.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

using std::chrono::milliseconds;

class AppPathScope {
 public:
  explicit AppPathScope(const std::string& folder) : before_(AppPath()) { SetAppPath(folder); }
  ~AppPathScope() { SetAppPath(before_); }

 private:
  std::string before_;
};

TEST(DatabaseProbe, OpensPostgresAndNeverCreatesASqliteFile) {
  REQUIRE_PG_SERVER(server);
  PgTestDatabase database(server);
  TempDir folder;
  AppPathScope scope(folder.Path());

  struct Case {
    const char* what;
    std::string config;
    bool opens;
  };
  const std::string missing = folder.File("missing.db");
  const Case cases[] = {
      {"PostgreSQL", database.ConnectionLines(), true},
      {"PostgreSQL, both hosts of a replicated pair, writable one wanted",
       "DriverID=PG\nServer=127.0.0.1,127.0.0.1\nPort=" + std::to_string(server.port) + "," +
           std::to_string(server.port) + "\nDatabase=" + database.Name() +
           "\nUser_Name=" + server.user + "\ntarget_session_attrs=read-write",
       true},
      {"SQLite file missing, creation asked for",
       "DriverID=SQLite\nDatabase=" + missing + "\nCreateDatabase=Yes", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(folder.File("DataBase.CFG"), c.config);
    TDatabaseProbe probe;
    const std::string reason = probe.Probe(milliseconds(5000));
    if (c.opens) {
      EXPECT_EQ(reason, "");
    } else {
      EXPECT_NE(reason, "");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
}  // namespace velmora::test
