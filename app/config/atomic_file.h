// Replacing a small file in one step, so that a reader or a crash never sees it half written.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Writes `contents` to a temporary file in the folder of `path`, then renames it over `path`.
// An existing file keeps its permission bits; a symbolic link is followed and its target replaced.
// Returns false, leaving `path` as it was and no temporary file behind, when any step fails
// (missing or unwritable folder, a folder at `path`, a full disk).
bool ReplaceFileContents(const std::string& path, std::string_view contents);

}  // namespace velmora
