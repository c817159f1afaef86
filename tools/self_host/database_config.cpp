#include "tools/self_host/database_config.h"

#include <fstream>
#include <stdexcept>

namespace velmora::self_host {

void WriteDatabaseConfig(const std::string& folder, std::initializer_list<std::string> lines) {
  const std::string path = folder + "/DataBase.CFG";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& line : lines) out << line << "\r\n";
  if (!out) throw std::runtime_error("Cannot write " + path);
}

void WriteSqliteConfig(const std::string& folder, const std::string& database, NewDatabase create) {
  if (create == NewDatabase::kCreate) {
    WriteDatabaseConfig(folder, {"DriverID=SQLite", "Database=" + database, "CreateDatabase=Yes"});
  } else {
    WriteDatabaseConfig(folder, {"DriverID=SQLite", "Database=" + database});
  }
}

}  // namespace velmora::self_host
