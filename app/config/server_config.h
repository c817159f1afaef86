// CONFIG.CFG, the server's own settings beside the executable: sections `CONFIG` and `Backup`.
#pragma once

#include <string>
#include <string_view>

#include "common/service_defaults.h"

namespace velmora {

inline constexpr std::string_view kConfigFileName = "CONFIG.CFG";
inline constexpr std::string_view kDefaultCaption = "数据服务器3.0";
inline constexpr std::string_view kDefaultBackupFolder = "BackupData";

// The values the main window shows. The `Backup` keys do not describe their contents:
// EveryTime is the minute, EveryDay the hour, EveryWeek the weekday, EveryMonth the day of month.
struct ServerConfig {
  std::string Caption{kDefaultCaption};
  std::string SVRUSERNAME{kDefaultUserName};
  std::string SVRPASSWORD{kDefaultPassword};
  std::string SVROPENPORT{std::to_string(kDefaultServicePort)};
  bool SVRStart = true;
  int BackupType = 0;   // -1 none selected, 0 none .. 4 monthly
  int EveryTime = 0;    // minute, 0..59
  int EveryDay = 0;     // hour, 0..23
  int EveryWeek = 0;    // -1 none selected, 0 Sunday .. 6 Saturday
  int EveryMonth = 1;   // day of the month, 1..31 (a stored 0 shows as 1)
  std::string bakpath;  // AppPath + "BackupData" unless stored

  bool operator==(const ServerConfig&) const = default;
};

// The defaults of every key, for the application folder `app_path` (with its trailing "/").
ServerConfig DefaultConfig(const std::string& app_path);

// Reads every key, one at a time, in the order Caption, SVRUSERNAME, SVRPASSWORD, SVROPENPORT,
// SVRStart, BackupType, EveryTime, EveryDay, EveryWeek, EveryMonth, bakpath. Number fields are
// brought into their range; BackupType and EveryWeek above their last item give the last item,
// below -1 give -1. Never raises: an error stops the load, and keys not yet read keep defaults.
ServerConfig LoadConfig(const std::string& path, const std::string& app_path);

// Each of these writes exactly its keys, in the order named, and raises "Unable to write to <path>"
// at the first key that cannot be written; the keys before it stay written.
void SaveSecurity(const std::string& path, std::string_view account, std::string_view password,
                  std::string_view port);               // SVRUSERNAME, SVRPASSWORD, SVROPENPORT
void SaveStart(const std::string& path, bool enabled);  // SVRStart "1" or "0"
// BackupType, EveryTime, EveryDay, EveryWeek, EveryMonth, bakpath; numbers as given, in decimal.
void SaveBackup(const std::string& path, const ServerConfig& values);

}  // namespace velmora
