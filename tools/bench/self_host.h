// The server velmora-bench starts in its own process: a temporary application folder with a
// generated SQLite database and its DataBase.CFG, the database and instance pools, and a
// TServerHost on a free 127.0.0.1 port that admits one account.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/bench/workload.h"

namespace velmora {
class TServerHost;
namespace testing {
class TempDir;
}
}  // namespace velmora

namespace velmora::bench {

class SelfHostedServer {
 public:
  // Generates the database (BIG_TABLE with kBigTableRows rows), makes the folder the AppPath,
  // creates the pools and starts the server. Raises on failure.
  SelfHostedServer(std::string user, std::string password);
  // Stops the server, then destroys the instance pool and the database pools.
  ~SelfHostedServer();
  SelfHostedServer(const SelfHostedServer&) = delete;
  SelfHostedServer& operator=(const SelfHostedServer&) = delete;

  uint16_t Port() const;

 private:
  std::unique_ptr<testing::TempDir> dir_;
  std::unique_ptr<TServerHost> host_;
};

}  // namespace velmora::bench
