// Replacing a small file in one step, so that a reader, a crash or a full disk never leaves it
// half written. The one writer of the settings files beside the executable (CONFIG.CFG,
// DataBase.CFG) and of the autostart entry.
//
// The rules:
// - The new contents go to a temporary file in the folder of the target ("<name>.XXXXXX"), which
//   is flushed to the disk and then renamed over the target. A failed step removes the temporary,
//   so the target keeps every byte it had and nothing is left beside it.
// - An existing file keeps its permission bits; a new one gets 0644. A symbolic link is followed
//   and its target replaced, the link stays.
// - Whether a read-only file may be replaced is the caller's decision (ReadOnlyFile): the rename
//   itself needs only a writable folder.
// Threads: any; two writers of one file at once each write a whole file, the later rename wins.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// The outcome of ReplaceFileContents: done, or the step that failed and why.
struct FileReplacement {
  enum class Failure {
    kNone,
    kCreate,  // the temporary could not be made (missing or unwritable folder), or the target
              // is not a regular file
    kWrite,   // writing, flushing or renaming failed (a full disk, a file-size limit)
  };
  Failure failure = Failure::kNone;
  int error = 0;  // the errno value of the failed step

  explicit operator bool() const { return failure == Failure::kNone; }
};

// Writes `contents` to a temporary file in the folder of `path`, then renames it over `path`.
FileReplacement ReplaceFileContents(const std::string& path, std::string_view contents);

// A file that exists but must not be changed: no write access for this process, or marked
// read-only by having no write permission bit at all (which holds for root too). False for a
// missing file.
bool ReadOnlyFile(const std::string& path);

}  // namespace velmora
