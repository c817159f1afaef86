#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace velmora {
namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The file a write must replace: the target of a symbolic link, else the path itself.
std::string ResolveTarget(const std::string& path) {
  char resolved[PATH_MAX];
  struct stat link_info {};
  if (::lstat(path.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode) &&
      ::realpath(path.c_str(), resolved) != nullptr) {
    return resolved;
  }
  return path;
}

// A replaced file that another link still reaches, held open so that its inode number cannot be
// given to an unrelated file while it is listed.
struct PinnedFormerFile {
  int fd;
  FileIdentity identity;
};

std::mutex g_former_mutex;
std::vector<PinnedFormerFile> g_former_files;

void PinIfStillLinked(int former_fd) {
  struct stat st {};
  if (::fstat(former_fd, &st) == 0 && st.st_nlink > 0) {
    std::lock_guard lock(g_former_mutex);
    g_former_files.push_back({former_fd, {st.st_dev, st.st_ino}});
    return;
  }
  ::close(former_fd);
}

// The new file gets the owner and group of the one it replaces: a copy run by root must not leave
// the service's settings readable by root alone. A process that may not give the file away (not
// root) succeeds only when the owner and group already match.
int KeepOwner(int fd, const struct stat& existing) {
  struct stat made {};
  if (::fstat(fd, &made) != 0) return errno;
  if (made.st_uid == existing.st_uid && made.st_gid == existing.st_gid) return 0;
  return ::fchown(fd, existing.st_uid, existing.st_gid) == 0 ? 0 : errno;
}

}  // namespace

FileReplacement ReplaceFileContents(const std::string& path, std::string_view contents) {
  using Failure = FileReplacement::Failure;
  const std::string target = ResolveTarget(path);
  // The file being replaced, by descriptor: its mode and owner are taken from what is open, and
  // after the rename it tells whether another link still holds the former contents.
  int former = ::open(target.c_str(), O_PATH | O_CLOEXEC);
  struct stat existing {};
  if (former >= 0 && ::fstat(former, &existing) != 0) {
    ::close(former);
    former = -1;
  }
  if (former >= 0 && !S_ISREG(existing.st_mode)) {
    ::close(former);
    return {Failure::kCreate, S_ISDIR(existing.st_mode) ? EISDIR : EINVAL};
  }
  const mode_t mode = former >= 0 ? existing.st_mode & 07777 : 0644;

  std::string pattern = target + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    const int error = errno;
    if (former >= 0) ::close(former);
    return {Failure::kCreate, error};
  }

  int error = 0;
  if (!WriteAll(fd, contents) || ::fchmod(fd, mode) != 0) error = errno;
  if (error == 0 && former >= 0) error = KeepOwner(fd, existing);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(name.data(), target.c_str()) != 0) error = errno;
  if (error == 0) {
    if (former >= 0) PinIfStillLinked(former);
    return {};
  }
  if (former >= 0) ::close(former);
  ::unlink(name.data());
  return {Failure::kWrite, error};
}

std::vector<FileIdentity> FormerFilesStillLinked() {
  std::lock_guard lock(g_former_mutex);
  std::vector<FileIdentity> out;
  for (auto it = g_former_files.begin(); it != g_former_files.end();) {
    struct stat st {};
    if (::fstat(it->fd, &st) != 0 || st.st_nlink == 0) {
      ::close(it->fd);
      it = g_former_files.erase(it);
      continue;
    }
    out.push_back(it->identity);
    ++it;
  }
  return out;
}

bool ReadOnlyFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  return ::access(path.c_str(), W_OK) != 0 || (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace velmora
