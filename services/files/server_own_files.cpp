#include "services/files/server_own_files.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

namespace velmora {
namespace {

struct OwnFile {
  std::string path;      // as named by the shell: looked up at each check for its identity
  std::string resolved;  // canonical, for a target that does not exist or lies below it
};

std::mutex g_mutex;
std::shared_ptr<const std::vector<OwnFile>> g_own_files;

std::shared_ptr<const std::vector<OwnFile>> CurrentOwnFiles() {
  std::lock_guard lock(g_mutex);
  return g_own_files;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool LiesBelow(std::string_view path, std::string_view folder) {
  return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

}  // namespace

std::string ServerOwnFileMessage(std::string_view path) {
  return fmt::format("Access denied: \"{}\" is one of the server's own files", path);
}

void SetServerOwnFiles(const std::vector<std::string>& paths) {
  auto files = std::make_shared<std::vector<OwnFile>>();
  files->reserve(paths.size());
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    std::error_code ec;
    std::string resolved = std::filesystem::weakly_canonical(path, ec).string();
    if (ec) resolved = path;
    files->push_back({path, std::move(resolved)});
  }
  std::lock_guard lock(g_mutex);
  g_own_files = std::move(files);
}

void RefuseServerOwnFile(const SafePath& target) {
  const auto files = CurrentOwnFiles();
  if (!files || files->empty()) return;
  struct stat target_stat {};
  const bool target_exists = ::stat(target.full.c_str(), &target_stat) == 0;
  for (const OwnFile& own : *files) {
    struct stat own_stat {};
    if ((target_exists && ::stat(own.path.c_str(), &own_stat) == 0 &&
         SameFile(own_stat, target_stat)) ||
        target.key == own.resolved) {
      throw EServerOwnFile(ServerOwnFileMessage(target.full));
    }
    // A folder would be made in its place, or the path fails on it.
    if (LiesBelow(target.key, own.resolved)) throw EServerOwnFile(ServerOwnFileMessage(own.path));
  }
}

}  // namespace velmora
