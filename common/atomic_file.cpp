#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
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

}  // namespace

FileReplacement ReplaceFileContents(const std::string& path, std::string_view contents) {
  using Failure = FileReplacement::Failure;
  const std::string target = ResolveTarget(path);
  mode_t mode = 0644;
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0) {
    if (!S_ISREG(existing.st_mode)) {
      return {Failure::kCreate, S_ISDIR(existing.st_mode) ? EISDIR : EINVAL};
    }
    mode = existing.st_mode & 07777;
  }

  std::string pattern = target + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return {Failure::kCreate, errno};

  int error = 0;
  if (!WriteAll(fd, contents) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(name.data(), target.c_str()) != 0) error = errno;
  if (error == 0) return {};
  ::unlink(name.data());
  return {Failure::kWrite, error};
}

bool ReadOnlyFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  return ::access(path.c_str(), W_OK) != 0 || (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace velmora
