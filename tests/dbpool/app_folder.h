// A temporary application folder for pool tests: made the AppPath, with a DataBase.CFG the test
// writes and rewrites. Removed with everything in it at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>

#include "common/app_path.h"

namespace velmora {

class AppFolder {
 public:
  AppFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-pool-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    SetAppPath(path_.string());
  }
  ~AppFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  AppFolder(const AppFolder&) = delete;
  AppFolder& operator=(const AppFolder&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }

  // Writes DataBase.CFG: one Name=Value line each, ended by CR LF.
  void WriteConfig(std::initializer_list<std::string> lines) const {
    std::ofstream out(File("DataBase.CFG"), std::ios::binary | std::ios::trunc);
    for (const auto& line : lines) out << line << "\r\n";
    if (!out) throw std::runtime_error("cannot write DataBase.CFG");
  }
  // A SQLite database file in this folder, created by the first connection when missing.
  void UseSqlite(const std::string& name) const {
    WriteConfig({"DriverID=SQLite", "Database=" + File(name), "CreateDatabase=Yes"});
  }

 private:
  std::filesystem::path path_;
};

}  // namespace velmora
