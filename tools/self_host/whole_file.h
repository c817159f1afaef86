// Whole files written and read in one call, for tests and benchmark tools preparing a server's
// folder (CONFIG.CFG, content to upload) and reading what it left.
//
// Thread rules: none kept.
#pragma once

#include <string>
#include <string_view>

namespace velmora::self_host {

// Writes `bytes` to `path`, replacing a file there. Raises std::runtime_error when it cannot.
void WriteFile(const std::string& path, std::string_view bytes);
// The whole content of the file at `path`. Raises std::runtime_error when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace velmora::self_host
