#include "app/server_own_files.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "app/config/server_config.h"
#include "maintenance/dialogs/database_setting.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

}  // namespace

std::vector<std::string> DatabaseFilesOf(const TStringList& params) {
  const std::string driver = params.Values("DriverID");
  const std::string database = params.Values("Database");
  std::vector<std::string> files;
  if (database.empty()) return files;
  if (EqualsNoCase(driver, "SQLite")) {
    if (database == ":memory:") return files;
    const std::string file = Absolute(database);
    files.push_back(file);
    // A journal forged by a client would be played back into the database on the next open.
    for (const char* suffix : {"-wal", "-shm", "-journal"}) files.push_back(file + suffix);
  } else if ((EqualsNoCase(driver, "FB") && params.Values("Server").empty()) ||
             EqualsNoCase(driver, "MSAcc")) {
    files.push_back(Absolute(database));
  }
  return files;
}

std::vector<std::string> ServerOwnFilePaths(const std::string& app_path,
                                            const TDSTlsServerSettings& tls) {
  const std::string database_config = app_path + std::string(kDatabaseConfigFileName);
  std::vector<std::string> files{app_path + std::string(kConfigFileName), database_config};
  for (const std::string* tls_file : {&tls.CertificateFile, &tls.PrivateKeyFile}) {
    if (!tls_file->empty()) files.push_back(Absolute(*tls_file));
  }
  TStringList params;
  try {
    params.LoadFromFile(database_config);
  } catch (const std::exception&) {
    params.Clear();  // missing or unreadable: no connection opens, so no database file is open
  }
  for (std::string& file : DatabaseFilesOf(params)) files.push_back(std::move(file));
  std::error_code ec;
  const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) files.push_back(executable.string());
  return files;
}

}  // namespace velmora
