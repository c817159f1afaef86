#include "app/config/server_config.h"

#include <algorithm>
#include <exception>

#include "app/config/ini_file.h"

namespace velmora {
namespace {

constexpr std::string_view kConfigSection = "CONFIG";
constexpr std::string_view kBackupSection = "Backup";

// A radio group: above the last item selects the last, below -1 selects nothing (-1).
int RadioIndex(int value, int last_item) {
  return std::clamp(value, -1, last_item);
}

}  // namespace

ServerConfig DefaultConfig(const std::string& app_path) {
  ServerConfig values;
  values.bakpath = app_path + std::string(kDefaultBackupFolder);
  return values;
}

ServerConfig LoadConfig(const std::string& path, const std::string& app_path) {
  ServerConfig c = DefaultConfig(app_path);
  try {
    c.Caption = GetPrivateProfileString(kConfigSection, "Caption", c.Caption, path);
    c.SVRUSERNAME = GetPrivateProfileString(kConfigSection, "SVRUSERNAME", c.SVRUSERNAME, path);
    c.SVRPASSWORD = GetPrivateProfileString(kConfigSection, "SVRPASSWORD", c.SVRPASSWORD, path);
    c.SVROPENPORT = GetPrivateProfileString(kConfigSection, "SVROPENPORT", c.SVROPENPORT, path);
    c.SVRStart = ReadProfileBool(kConfigSection, "SVRStart", c.SVRStart, path);
    c.BackupType = RadioIndex(ReadProfileInteger(kBackupSection, "BackupType", 0, path), 4);
    c.EveryTime = std::clamp(ReadProfileInteger(kBackupSection, "EveryTime", 0, path), 0, 59);
    c.EveryDay = std::clamp(ReadProfileInteger(kBackupSection, "EveryDay", 0, path), 0, 23);
    c.EveryWeek = RadioIndex(ReadProfileInteger(kBackupSection, "EveryWeek", 0, path), 6);
    c.EveryMonth = std::clamp(ReadProfileInteger(kBackupSection, "EveryMonth", 0, path), 1, 31);
    c.bakpath = GetPrivateProfileString(kBackupSection, "bakpath", c.bakpath, path);
  } catch (const std::exception&) {
    // A failed load is silent: what was read stays, the rest keeps its defaults.
  }
  return c;
}

void SaveSecurity(const std::string& path, std::string_view account, std::string_view password,
                  std::string_view port) {
  WritePrivateProfileString(kConfigSection, "SVRUSERNAME", account, path);
  WritePrivateProfileString(kConfigSection, "SVRPASSWORD", password, path);
  WritePrivateProfileString(kConfigSection, "SVROPENPORT", port, path);
}

void SaveStart(const std::string& path, bool enabled) {
  WritePrivateProfileString(kConfigSection, "SVRStart", enabled ? "1" : "0", path);
}

void SaveBackup(const std::string& path, const ServerConfig& values) {
  WritePrivateProfileString(kBackupSection, "BackupType", std::to_string(values.BackupType), path);
  WritePrivateProfileString(kBackupSection, "EveryTime", std::to_string(values.EveryTime), path);
  WritePrivateProfileString(kBackupSection, "EveryDay", std::to_string(values.EveryDay), path);
  WritePrivateProfileString(kBackupSection, "EveryWeek", std::to_string(values.EveryWeek), path);
  WritePrivateProfileString(kBackupSection, "EveryMonth", std::to_string(values.EveryMonth), path);
  WritePrivateProfileString(kBackupSection, "bakpath", values.bakpath, path);
}

}  // namespace velmora
