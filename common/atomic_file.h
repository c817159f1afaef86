// Replacing a small file in one step, so that a reader, a crash or a full disk never leaves it
// half written. The one writer of the settings files beside the executable (CONFIG.CFG,
// DataBase.CFG) and of the autostart entry.
//
// The rules:
// - The new contents go to a temporary file in the folder of the target ("<name>.XXXXXX"), which
//   is flushed to the disk and then renamed over the target. A failed step removes the temporary,
//   so the target keeps every byte it had and nothing is left beside it.
// - An existing file keeps its permission bits, its owner and its group; a new one gets 0644 and
//   the writer's owner. A process that may not give a file away (not root) fails the write, the
//   target untouched, rather than replace a file owned by another user with its own: a service
//   user that cannot read its settings would start on the defaults. A symbolic link is followed
//   and its target replaced, the link stays.
// - A replaced file whose contents another (hard) link still reaches is remembered by identity
//   for the life of the process (FormerFilesStillLinked), so that such a link to a former settings
//   file can be refused like the file itself.
// - Whether a read-only file may be replaced is the caller's decision (ReadOnlyFile): the rename
//   itself needs only a writable folder.
// Threads: any; two writers of one file at once each write a whole file, the later rename wins.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The outcome of ReplaceFileContents: done, or the step that failed and why.
struct FileReplacement {
  enum class Failure {
    kNone,
    kCreate,  // the temporary could not be made (missing or unwritable folder), or the target
              // is not a regular file
    kWrite,   // writing, flushing or renaming failed (a full disk, a file-size limit), or the
              // new file could not be given the owner of the one it replaces (EPERM)
  };
  Failure failure = Failure::kNone;
  int error = 0;  // the errno value of the failed step

  explicit operator bool() const { return failure == Failure::kNone; }
};

// Writes `contents` to a temporary file in the folder of `path`, then renames it over `path`.
FileReplacement ReplaceFileContents(const std::string& path, std::string_view contents);

// A file by device and inode number.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// Identities of the files ReplaceFileContents replaced in this process that another link still
// reaches (their link count is above zero after the rename). Each is held open while listed, so
// its inode number is never reused meanwhile; one whose last link is gone drops out.
std::vector<FileIdentity> FormerFilesStillLinked();

// A file that exists but must not be changed: no write access for this process, or marked
// read-only by having no write permission bit at all (which holds for root too). False for a
// missing file.
bool ReadOnlyFile(const std::string& path);

}  // namespace velmora
