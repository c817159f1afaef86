#include "db/core/file_identity.h"

#include <fmt/core.h>
#include <sys/stat.h>

namespace velmora {

TFileIdentity TFileIdentity::Of(std::string path) {
  TFileIdentity identity;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return identity;
  identity.path_ = std::move(path);
  identity.watched_ = true;
  identity.device_ = st.st_dev;
  identity.inode_ = st.st_ino;
  return identity;
}

std::string TFileIdentity::Change() const {
  if (!watched_) return {};
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return "deleted";
  if (st.st_dev != device_ || st.st_ino != inode_) return "replaced";
  return {};
}

std::string TFileIdentity::ChangeMessage() const {
  const std::string what = Change();
  if (what.empty()) return {};
  return fmt::format("The database file was {} since this connection opened it: {}", what, path_);
}

}  // namespace velmora
