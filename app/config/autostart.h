// The machine-wide start-up entry that follows the "开机运行" box: an XDG autostart desktop entry
// named after the executable (file name without extension) plus ".desktop".
//
// Enabling writes (or replaces) the entry; disabling removes it, and an absent entry is no error.
// The folder is opened "for full access, created if missing": when it cannot be created, is not a
// folder, or this process may not write into it, the entry is left alone and nothing is reported
// (SetAutostart returns false), so that closing the window goes on to save the schedule. When the
// folder is usable but the entry itself cannot be written, SetAutostart raises
// "Failed to set data for '<name>'" (EAutostartError). A failed removal is not reported.
#pragma once

#include <string>
#include <string_view>

#include "common/velmora_error.h"

namespace velmora {

// The entry could not be written into a usable folder.
class EAutostartError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

inline constexpr std::string_view kSystemAutostartFolder = "/etc/xdg/autostart";

// "Velmora.exe" -> "Velmora"; a name without extension stays as it is.
std::string AutostartEntryName(std::string_view exe_file_name);

// The desktop entry that starts `exe_path` in the application folder `app_path`. The folder is
// passed as "--app-dir <folder>" when it is not the executable's own, so that a server started
// with another folder comes back in it at login; `app_path` empty means the executable's folder.
// Each Exec= argument is quoted when the desktop-entry rules need it.
std::string DesktopEntryText(std::string_view name, std::string_view exe_path,
                             std::string_view app_path = {});

// Returns false when the folder could not be opened (see above), true when the entry now follows
// `enabled`. `app_path` as for DesktopEntryText.
bool SetAutostart(const std::string& folder, std::string_view exe_file_name,
                  std::string_view exe_path, bool enabled, std::string_view app_path = {});

}  // namespace velmora
