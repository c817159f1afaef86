// TempDir: the tests' temporary folder, a self_host::ScratchFolder (fresh below the system's
// temporary folder, removed with everything in it when the object goes) with what tests ask of
// it, and the file helpers tests write and read through.
#pragma once

#include <string>
#include <vector>

#include "tools/self_host/scratch_folder.h"
#include "tools/self_host/whole_file.h"

namespace velmora::test {

class TempDir : public self_host::ScratchFolder {
 public:
  // The folder with a trailing "/", the form the file operations take their base folder in.
  std::string Root() const { return Path() + "/"; }
  // Names of everything directly in the folder, sorted.
  std::vector<std::string> Listing() const;
};

// Whole files written and read, raising std::runtime_error when they cannot be.
using self_host::ReadFile;
using self_host::WriteFile;

}  // namespace velmora::test
