// SelfHostedServer: a whole server in the calling process, for tests and benchmarks. In a folder
// the caller owns it generates the fixture database (tools/self_host/fixture_db.h) with an
// exchange folder Upload/ beside it, names the database in DataBase.CFG, makes the folder the
// AppPath, creates the database pools and ServerModulePool, and starts a TServerHost on a free
// 127.0.0.1 port that admits one account.
//
// Threads: construct, use Host() and destroy on one thread (the pools are process-wide, so one
// SelfHostedServer at a time per process); clients may call the server from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "host/server_host.h"

namespace velmora::self_host {

struct SelfHostOptions {
  std::string folder;  // an existing folder, kept by the caller until the server is gone
  std::string user;    // the one account admitted
  std::string password;
  int big_table_rows = 20;  // rows generated into BIG_TABLE
};

class SelfHostedServer {
 public:
  // Sets everything up and starts the server. Raises (std::runtime_error for the database,
  // EDSServerError for the port) with nothing left behind: the pools made are destroyed again.
  explicit SelfHostedServer(SelfHostOptions options);
  // Stops the host, then destroys ServerModulePool and the database pools, in that order.
  ~SelfHostedServer();
  SelfHostedServer(const SelfHostedServer&) = delete;
  SelfHostedServer& operator=(const SelfHostedServer&) = delete;

  // The host, for tests that stop and restart it or watch its transport's events.
  TServerHost& Host() { return host_; }
  // The port listened on while started.
  uint16_t Port() const { return host_.BoundPort(); }
  // The generated SQLite database file, inside the folder.
  const std::string& DatabasePath() const { return database_; }

 private:
  SelfHostOptions options_;
  std::string database_;
  TServerHost host_;
};

}  // namespace velmora::self_host
