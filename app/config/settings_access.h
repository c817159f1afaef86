// Whether a settings file that exists can be read. A missing CONFIG.CFG or DataBase.CFG means the
// defaults (or no database); one that exists but cannot be read (its owner changed by a copy run
// as root, its mode, a folder in its place) must not be taken for a missing one: the server would
// start on the built-in port and password, or without its database, and nobody would be told.
#pragma once

#include <optional>
#include <string>

namespace velmora {

// Nothing when the file at `path` is missing or can be read; else the reason it cannot, as
// "Cannot read the settings file <path>: <system message>".
std::optional<std::string> UnreadableSettingsFile(const std::string& path);

}  // namespace velmora
