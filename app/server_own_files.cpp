#include "app/server_own_files.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iterator>
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

// Whether `inner` is `outer` or lies below it (both absolute and normal).
bool Within(const std::string& inner, const std::string& outer) {
  const fs::path a = fs::path(inner).lexically_normal();
  const fs::path b = fs::path(outer).lexically_normal();
  auto [o, i] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
  return o == b.end() || (std::next(o) == b.end() && o->empty());
}

}  // namespace

std::vector<std::string> SecretFilesOf(const TStringList& params) {
  std::vector<std::string> files;
  if (!EqualsNoCase(params.Values("DriverID"), "PG")) return files;
  // libpq's own files that hold a password or a private key: named in the parameters, else the
  // password file libpq looks for by itself.
  for (const char* key : {"passfile", "sslkey", "servicefile"}) {
    const std::string file = params.Values(key);
    if (!file.empty()) files.push_back(Absolute(file));
  }
  if (params.Values("passfile").empty()) {
    if (const char* named = std::getenv("PGPASSFILE"); named != nullptr && *named != '\0') {
      files.push_back(Absolute(named));
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
      files.push_back(Absolute(std::string(home) + "/.pgpass"));
    }
  }
  return files;
}

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
  for (std::string& file : SecretFilesOf(params)) files.push_back(std::move(file));
  // The backups are copies of the database. Their folder is protected whole, unless it holds the
  // application folder itself (then every file there would be refused).
  const std::string backups =
      Absolute(LoadConfig(app_path + std::string(kConfigFileName), app_path).bakpath);
  if (!backups.empty() && !Within(Absolute(app_path), backups)) files.push_back(backups);
  std::error_code ec;
  const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) files.push_back(executable.string());
  return files;
}

}  // namespace velmora
