// TFileIdentity: which file a session's database path named when the session opened it, and the
// look that says whether the path still names that file. An engine that opens a database file in
// this process keeps one, so that a database deleted or replaced under a running server fails the
// next write instead of acknowledging it into a file nobody will read again.
//
// The rules:
// - A file is the same while its device and inode are: a rename onto the path, a copy put in its
//   place or a new database made there is another file, although the path and even the contents
//   may be the same.
// - Of(path) remembers what the path names now. A path that names nothing gives an identity that
//   watches nothing, as does a default one (an in-memory database, one a server keeps).
// - Change() looks at the path again: "" while it names the same file, "deleted" when it names
//   nothing, "replaced" when it names another file; always "" when nothing is watched.
// - ChangeMessage() says the same as the session's error: "The database file was deleted since
//   this connection opened it: /path/db" ("" while the file is the same).
//
// Thread rules: a plain value, copied freely; a look only reads it (and the file system), so
// looks from several threads are safe.
#pragma once

#include <sys/types.h>

#include <string>

namespace velmora {

class TFileIdentity {
 public:
  TFileIdentity() = default;
  static TFileIdentity Of(std::string path);

  bool Watched() const { return watched_; }
  // The path as given to Of; "" when nothing is watched.
  const std::string& Path() const { return path_; }

  std::string Change() const;
  std::string ChangeMessage() const;

 private:
  std::string path_;
  bool watched_ = false;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace velmora
