// ScratchFolder: a fresh folder below the system's temporary folder, removed with everything in
// it when the object goes. For tests, benchmarks and servers started in-process; nothing of the
// server itself uses it.
#pragma once

#include <string>

namespace velmora::self_host {

class ScratchFolder {
 public:
  // Makes the folder (velmora-XXXXXX). Raises std::runtime_error when it cannot be made.
  ScratchFolder();
  // Gives the owner full access again first: a test that took the folder's write permission away
  // would otherwise leave it behind.
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder, without a trailing "/".
  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace velmora::self_host
