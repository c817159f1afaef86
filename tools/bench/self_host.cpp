#include "tools/bench/self_host.h"

#include <fstream>
#include <stdexcept>

#include "common/app_path.h"
#include "dbpool/database_pools.h"
#include "host/server_host.h"
#include "host/server_module_pool.h"
#include "tests/support/fixture_db.h"
#include "tests/support/temp_dir.h"

namespace velmora::bench {

SelfHostedServer::SelfHostedServer(std::string user, std::string password)
    : dir_(std::make_unique<testing::TempDir>()) {
  const std::string database = dir_->File("bench.db");
  testing::CreateFixtureDatabase(database, kBigTableRows);
  {
    std::ofstream cfg(dir_->File("DataBase.CFG"), std::ios::binary | std::ios::trunc);
    cfg << "DriverID=SQLite\r\nDatabase=" << database << "\r\n";
    if (!cfg) throw std::runtime_error("cannot write DataBase.CFG");
  }
  SetAppPath(dir_->Path());
  CreateDatabasePools();
  CreateServerModulePool();

  host_ = std::make_unique<TServerHost>();
  host_->DSTCPServerTransport1.BindAddress = "127.0.0.1";
  host_->DSAuthenticationManager1.OnUserAuthenticate =
      [user = std::move(user), password = std::move(password)](
          TDSAuthenticationManager&, const std::string&, const std::string&,
          const std::string& User, const std::string& Password, bool& valid,
          std::vector<std::string>&) { valid = User == user && Password == password; };
  host_->Start(0);
}

SelfHostedServer::~SelfHostedServer() {
  host_.reset();
  DestroyServerModulePool();
  DestroyDatabasePools();
}

uint16_t SelfHostedServer::Port() const { return host_->BoundPort(); }

}  // namespace velmora::bench
