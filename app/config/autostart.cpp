#include "app/config/autostart.h"

#include <fmt/format.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "common/atomic_file.h"

namespace velmora {
namespace {

// Escapes of a desktop-entry string value.
std::string EscapeValue(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// One Exec= argument: double-quoted when it holds a reserved character, with '"', '`', '$' and
// '\' escaped inside the quotes; '%' doubled so that it is no field code.
std::string ExecArgument(std::string_view arg) {
  constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string out;
  const bool quote = arg.find_first_of(kReserved) != std::string_view::npos;
  if (quote) out += '"';
  for (const char c : arg) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  if (quote) out += '"';
  return out;
}

std::string FolderOf(std::string_view file) {
  return std::filesystem::path(file).parent_path().string();
}

// A folder as absolute, normalised text without a trailing separator.
std::string NormalFolder(std::string_view folder) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(folder), ec);
  if (ec) path = folder;  // no working folder to resolve against: the text as given
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool FolderUsable(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string AutostartEntryName(std::string_view exe_file_name) {
  return std::filesystem::path(exe_file_name).stem().string();
}

std::string DesktopEntryText(std::string_view name, std::string_view exe_path,
                             std::string_view app_path) {
  std::string command = ExecArgument(exe_path);
  // Compared as text: a folder reached through a link counts as another, and passing it then is
  // harmless. Absolute, because the session starts the entry in a working folder of its own.
  if (!app_path.empty() && NormalFolder(app_path) != NormalFolder(FolderOf(exe_path))) {
    command += " --app-dir ";
    command += ExecArgument(NormalFolder(app_path));
  }
  return fmt::format(
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name={}\n"
      "Exec={}\n"
      "X-GNOME-Autostart-enabled=true\n",
      EscapeValue(name), EscapeValue(command));
}

bool SetAutostart(const std::string& folder, std::string_view exe_file_name,
                  std::string_view exe_path, bool enabled, std::string_view app_path) {
  if (!FolderUsable(folder)) return false;
  const std::string name = AutostartEntryName(exe_file_name);
  const std::string file = (std::filesystem::path(folder) / (name + ".desktop")).string();
  if (!enabled) {
    ::unlink(file.c_str());  // absent or not removable: nothing to report
    return true;
  }
  if (name.empty() || !ReplaceFileContents(file, DesktopEntryText(name, exe_path, app_path))) {
    throw EAutostartError(fmt::format("Failed to set data for '{}'", name));
  }
  return true;
}

}  // namespace velmora
