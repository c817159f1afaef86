#include "tools/self_host/self_hosted_server.h"

#include <filesystem>
#include <utility>
#include <vector>

#include "common/app_path.h"
#include "dbpool/database_pools.h"
#include "host/server_module_pool.h"
#include "tools/self_host/database_config.h"
#include "tools/self_host/fixture_db.h"

namespace velmora::self_host {

SelfHostedServer::SelfHostedServer(SelfHostOptions options)
    : options_(std::move(options)), database_(options_.folder + "/test.db") {
  CreateFixtureDatabase(database_, options_.big_table_rows);
  WriteSqliteConfig(options_.folder, database_);
  std::filesystem::create_directory(options_.folder + "/Upload");
  SetAppPath(options_.folder);

  host_.DSTCPServerTransport1.BindAddress = "127.0.0.1";
  host_.DSAuthenticationManager1.OnUserAuthenticate =
      [this](TDSAuthenticationManager&, const std::string&, const std::string&,
             const std::string& User, const std::string& Password, bool& valid,
             std::vector<std::string>&) {
        valid = User == options_.user && Password == options_.password;
      };
  try {
    CreateDatabasePools();
    CreateServerModulePool();
    host_.Start(0);
  } catch (...) {
    DestroyServerModulePool();
    DestroyDatabasePools();
    throw;
  }
}

SelfHostedServer::~SelfHostedServer() {
  host_.Stop();
  DestroyServerModulePool();
  DestroyDatabasePools();
}

}  // namespace velmora::self_host
