// A running server for the client's end-to-end tests: a temporary application folder with an
// exchange folder and DataBase.CFG naming a generated SQLite database, the database pools,
// ServerModulePool and a TServerHost on a free loopback port admitting one account.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/app_path.h"
#include "dbpool/database_pools.h"
#include "host/server_host.h"
#include "host/server_module_pool.h"
#include "rpc/auth_manager.h"
#include "tests/support/fixture_db.h"
#include "tests/support/temp_dir.h"

namespace velmora::client_test {

inline constexpr const char* kUser = "clerk";
inline constexpr const char* kPassword = "s3cret";
inline constexpr int kBigRows = 20;

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SetAppPath(dir_.Path());
    std::filesystem::create_directory(dir_.File("Upload"));
    {
      std::ofstream cfg(dir_.File("DataBase.CFG"), std::ios::binary);
      cfg << "DriverID=SQLite\r\nDatabase=" << dir_.File("test.db") << "\r\n";
    }
    testing::CreateFixtureDatabase(dir_.File("test.db"), kBigRows);
    CreateDatabasePools();
    CreateServerModulePool();
    host_.DSAuthenticationManager1.OnUserAuthenticate =
        [](TDSAuthenticationManager&, const std::string&, const std::string&,
           const std::string& User, const std::string& Password, bool& valid,
           std::vector<std::string>&) { valid = User == kUser && Password == kPassword; };
    host_.Start(0);
    work_ = dir_.File("client");
    std::filesystem::create_directory(work_);
  }
  void TearDown() override {
    host_.Stop();
    DestroyServerModulePool();
    DestroyDatabasePools();
  }

  testing::TempDir dir_;
  TServerHost host_;
  std::string work_;  // a folder of the client's own files
};

}  // namespace velmora::client_test
