#include "services/files/server_own_files.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "common/atomic_file.h"

namespace velmora {
namespace {

// An inode one of the files had, held open (O_PATH) so that its number is not given to another
// file while it is compared with.
struct Pin {
  int fd;
  FileIdentity identity;
};

struct OwnFile {
  std::string path;       // as named by the shell: looked up at each check for its identity
  std::string resolved;   // canonical, for a target that does not exist or lies below it
  std::vector<Pin> pins;  // the file now, and former ones that some link still reaches
};

std::mutex g_mutex;
std::vector<OwnFile> g_own_files;

FileIdentity IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino};
}

bool LiesBelow(std::string_view path, std::string_view folder) {
  return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

bool Pinned(const OwnFile& own, const FileIdentity& identity) {
  return std::any_of(own.pins.begin(), own.pins.end(),
                     [&](const Pin& pin) { return pin.identity == identity; });
}

// Pins the file the path names now when it is new, and lets go of former files whose last link
// is gone. A former file that a link still reaches keeps its old contents (a settings file
// replaced by rename, hard-linked before), so it stays one of the server's own.
void Refresh(OwnFile& own) {
  struct stat st {};
  if (::stat(own.path.c_str(), &st) == 0 && !Pinned(own, IdentityOf(st))) {
    const int fd = ::open(own.path.c_str(), O_PATH | O_CLOEXEC);
    struct stat opened {};
    if (fd >= 0 && ::fstat(fd, &opened) == 0) {
      own.pins.push_back({fd, IdentityOf(opened)});
    } else if (fd >= 0) {
      ::close(fd);
    }
  }
  std::erase_if(own.pins, [](const Pin& pin) {
    struct stat now {};
    if (::fstat(pin.fd, &now) == 0 && now.st_nlink > 0) return false;
    ::close(pin.fd);
    return true;
  });
}

void Unpin(std::vector<OwnFile>& files) {
  for (OwnFile& own : files) {
    for (const Pin& pin : own.pins) ::close(pin.fd);
  }
  files.clear();
}

// Whether a file of this identity is, or was and is still linked as, one of the server's own.
// Called with g_mutex held.
bool IsOwnIdentity(const FileIdentity& identity) {
  for (OwnFile& own : g_own_files) {
    Refresh(own);
    if (Pinned(own, identity)) return true;
  }
  const std::vector<FileIdentity> former = FormerFilesStillLinked();
  return std::find(former.begin(), former.end(), identity) != former.end();
}

// The path of an open file or folder as the kernel resolved it.
std::string OpenedPath(int fd) {
  char buffer[PATH_MAX];
  const std::string link = fmt::format("/proc/self/fd/{}", fd);
  const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace

std::string ServerOwnFileMessage(std::string_view path) {
  return fmt::format("Access denied: \"{}\" is one of the server's own files", path);
}

void SetServerOwnFiles(const std::vector<std::string>& paths) {
  std::vector<OwnFile> files;
  files.reserve(paths.size());
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    std::error_code ec;
    std::string resolved = std::filesystem::weakly_canonical(path, ec).string();
    if (ec) resolved = path;
    files.push_back({path, std::move(resolved), {}});
    Refresh(files.back());
  }
  std::lock_guard lock(g_mutex);
  Unpin(g_own_files);
  g_own_files = std::move(files);
}

void RefuseServerOwnFile(const SafePath& target) {
  struct stat target_stat {};
  const bool target_exists = ::stat(target.full.c_str(), &target_stat) == 0;
  std::lock_guard lock(g_mutex);
  if (target_exists && IsOwnIdentity(IdentityOf(target_stat))) {
    throw EServerOwnFile(ServerOwnFileMessage(target.full));
  }
  for (const OwnFile& own : g_own_files) {
    if (target.key == own.resolved) throw EServerOwnFile(ServerOwnFileMessage(target.full));
    // A folder would be made in its place, or the path fails on it.
    if (LiesBelow(target.key, own.resolved)) throw EServerOwnFile(ServerOwnFileMessage(own.path));
  }
}

void RefuseOpenedServerOwnFile(int fd, const SafePath& target, std::string_view leaf) {
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) {
    throw EServerOwnFile(ServerOwnFileMessage(target.full));
  }
  // Where the kernel's resolution actually led: a link swapped after the path was checked leads
  // elsewhere than the check saw.
  std::string reached = OpenedPath(fd);
  if (!leaf.empty() && !reached.empty())
    reached = (reached == "/" ? "" : reached) + "/" + std::string(leaf);
  if (reached.empty() || (reached != target.root && !LiesBelow(reached, target.root))) {
    throw EUnsafePath(fmt::format("Refused path \"{}\": it leads outside its folder", target.full));
  }
  std::lock_guard lock(g_mutex);
  if (leaf.empty() && IsOwnIdentity(IdentityOf(opened))) {
    throw EServerOwnFile(ServerOwnFileMessage(target.full));
  }
  for (const OwnFile& own : g_own_files) {
    if (reached == own.resolved || LiesBelow(reached, own.resolved)) {
      throw EServerOwnFile(ServerOwnFileMessage(target.full));
    }
  }
}

int OpenCheckedFolder(const SafePath& target) {
  const int fd = ::open(target.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  try {
    RefuseOpenedServerOwnFile(fd, target, target.leaf);
  } catch (...) {
    ::close(fd);
    throw;
  }
  return fd;
}

}  // namespace velmora
