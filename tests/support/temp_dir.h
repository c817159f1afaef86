// TempDir: the tests' temporary folder, a self_host::ScratchFolder (fresh below the system's
// temporary folder, removed with everything in it when the object goes) with what tests ask of
// it, and the file helpers tests write and read through.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/self_host/scratch_folder.h"

namespace velmora::test {

class TempDir : public self_host::ScratchFolder {
 public:
  // The folder with a trailing "/", the form the file operations take their base folder in.
  std::string Root() const { return Path() + "/"; }
  // Names of everything directly in the folder, sorted.
  std::vector<std::string> Listing() const;
};

// Writes `bytes` to `path`, replacing a file there. Raises std::runtime_error when it cannot.
void WriteFile(const std::string& path, std::string_view bytes);
// The whole content of the file at `path`. Raises std::runtime_error when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace velmora::test
