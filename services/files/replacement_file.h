// Writing a file wholly or not at all.
//
// The content goes to a hidden temporary file beside the target (".<name>.velmora-XXXXXX",
// created exclusively), which is flushed to disk and then renamed over the target. Until Commit
// succeeds the target keeps its earlier content, or stays absent; a temporary that is not
// committed is removed. The folder is opened once, checked (server_own_files.h), and every step
// after works in it by descriptor, so a folder swapped for a link meanwhile cannot move the write
// elsewhere.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "services/files/safe_path.h"

namespace velmora {

class ReplacementFile {
 public:
  // Creates the temporary. Raises EFCreateError naming the target when the target cannot be
  // created: its folder is missing or not a folder, the target is a folder, or access is denied;
  // EUnsafePath or EServerOwnFile when the folder opened is not where the path was checked to
  // lead or the target is one of the server's own files.
  explicit ReplacementFile(const SafePath& target);
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  ~ReplacementFile();

  // Appends bytes; raises EFileError ("Cannot write file ...") on failure.
  void Write(const char* data, size_t size);
  // Flushes, closes and renames the temporary over the target; raises EFileError on failure.
  void Commit();

 private:
  std::string target_;  // the full path, for messages
  std::string leaf_;
  int folder_fd_ = -1;
  std::string temp_;  // the temporary's name in the folder
  int fd_ = -1;
};

// Whether a folder entry's name is that of a temporary made by ReplacementFile.
bool IsReplacementTempName(std::string_view name);

}  // namespace velmora
