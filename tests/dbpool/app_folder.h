// AppFolder: the tests' temporary folder made the AppPath, with the DataBase.CFG the pool tests
// write and rewrite. Removed with everything in it at the end.
#pragma once

#include <initializer_list>
#include <string>

#include "common/app_path.h"
#include "tests/support/temp_dir.h"
#include "tools/self_host/database_config.h"

namespace velmora::test {

class AppFolder : public TempDir {
 public:
  AppFolder() { SetAppPath(Path()); }

  // Writes DataBase.CFG: one Name=Value line each, ended by CR LF.
  void WriteConfig(std::initializer_list<std::string> lines) const {
    self_host::WriteDatabaseConfig(Path(), lines);
  }
  // A SQLite database file in this folder, created by the first connection when missing.
  void UseSqlite(const std::string& name) const {
    self_host::WriteSqliteConfig(Path(), File(name), self_host::NewDatabase::kCreate);
  }
};

}  // namespace velmora::test
