// One engine's client library missing from the machine: its connections fail, each time, with a
// message naming the library, while SQLite and the other engines reachable here without a server
// go on working in the same process. The missing library is stood for by a file name that exists
// nowhere, set in the loaders' table (db/core/client_libraries.h) before any connection opens;
// nothing is uninstalled and no loader search path is changed.
//
// The Firebird and ODBC loads happen once per process, so each library goes missing in a program
// of its own: this file is built once per library, VELMORA_MISSING_LIBRARY naming it (Firebird,
// PostgreSql or Odbc), and the test's name names it too.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "db/core/client_libraries.h"
#include "db/core/connection.h"
#include "db/core/query.h"
#include "tests/db/firebird/fb_test_support.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

#define VELMORA_PASTE_(a, b, c) a##b##c
#define VELMORA_PASTE(a, b, c) VELMORA_PASTE_(a, b, c)

constexpr ClientLibrary kMissing = VELMORA_PASTE(ClientLibrary::k, VELMORA_MISSING_LIBRARY, );
const std::string kMissingFile = "libvelmora-not-installed.so.1";

// An engine with a library of its own, as this machine reaches it without a server.
struct Engine {
  const char* driver_id;
  ClientLibrary library;
  const char* load_error;  // how the engine's open names its library when it cannot load it
  // DataBase.CFG lines for a connection; the folder is the test's own.
  std::function<std::string(const TempDir&)> config;
  // What a working open does here: the query's first value, or (PostgreSQL, no server) the
  // words of libpq's own connection error, which only a loaded library can give.
  const char* query;
  const char* works;
};

std::vector<Engine> Engines() {
  return {
      {"FB", ClientLibrary::kFirebird, "The Firebird client library",
       [](const TempDir& dir) {
         const std::string path = dir.File("fb.fdb");
         if (kMissing != ClientLibrary::kFirebird) CreateFbDatabase(path);
         return "DriverID=FB\nUser_Name=SYSDBA\nDatabase=" + path;
       },
       "SELECT 1 + 1 FROM RDB$DATABASE", "2"},
      {"PG", ClientLibrary::kPostgreSql, "Cannot load the PostgreSQL client library",
       [](const TempDir&) {
         return std::string("DriverID=PG\nServer=127.0.0.1\nPort=1\nDatabase=none");
       },
       nullptr, "Connection refused"},
      {"ODBC", ClientLibrary::kOdbc, "Cannot load the ODBC driver manager",
       [](const TempDir& dir) {
         return "DriverID=ODBC\nODBCDriver=SQLite3\nDatabase=" + dir.File("odbc.db");
       },
       "SELECT 1 + 1", "2"},
  };
}

// The open's error, or the query's first value when it opens.
std::string OpenAndQuery(const std::string& config, const char* query) {
  TFDConnection connection;
  connection.Params().SetText(config);
  try {
    connection.Open();
    if (query == nullptr) return "opened";
    TFDQuery q;
    q.SetConnection(&connection);
    q.SQL().SetText(query);
    q.Open();
    return q.Fields(0).AsString();
  } catch (const std::exception& e) {
    return e.what();
  }
}

TEST(MissingClientLibrary,
     VELMORA_PASTE(Without, VELMORA_MISSING_LIBRARY, OnlyItsEngineFailsNamingTheLibrary)) {
  SetClientLibraryFile(kMissing, kMissingFile);
  TempDir dir;
  const auto sqlite_works = [&] {
    EXPECT_EQ(OpenAndQuery("DriverID=SQLite\nCreateDatabase=Yes\nDatabase=" + dir.File("s.db"),
                           "SELECT 1 + 1"),
              "2");
  };
  const auto expect_missing = [&](const Engine& engine) {
    const std::string error = OpenAndQuery(engine.config(dir), engine.query);
    EXPECT_NE(error.find(engine.load_error), std::string::npos) << error;
    EXPECT_NE(error.find(kMissingFile + ": cannot open shared object file"), std::string::npos)
        << error;
  };

  const std::vector<Engine> engines = Engines();
  for (const Engine& engine : engines) {
    SCOPED_TRACE(engine.driver_id);
    if (engine.library == kMissing) {
      expect_missing(engine);
    } else {
      const std::string result = OpenAndQuery(engine.config(dir), engine.query);
      EXPECT_NE(result.find(engine.works), std::string::npos) << result;
    }
    sqlite_works();
  }
  // Asked again, the engine fails the same way: no crash, no half-loaded library.
  for (const Engine& engine : engines) {
    if (engine.library == kMissing) expect_missing(engine);
  }
}

}  // namespace
}  // namespace velmora::test
