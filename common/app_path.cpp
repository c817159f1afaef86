#include "common/app_path.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace velmora {
namespace {

std::mutex g_mutex;
std::string g_app_path;

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string ExecutableFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return WithSlash(std::filesystem::current_path().string());
  return WithSlash(exe.parent_path().string());
}

std::string AppPath() {
  std::lock_guard lock(g_mutex);
  if (g_app_path.empty()) g_app_path = ExecutableFolder();
  return g_app_path;
}

void SetAppPath(std::string folder) {
  std::lock_guard lock(g_mutex);
  g_app_path = WithSlash(std::move(folder));
}

}  // namespace velmora
