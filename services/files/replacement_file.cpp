#include "services/files/replacement_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "common/file_errors.h"
#include "services/files/server_own_files.h"

namespace velmora {
namespace {

constexpr std::string_view kTempTag = ".velmora-";
constexpr size_t kTempRandomChars = 6;
// Keeps temporary names within the usual 255-byte limit however long the target's name is.
constexpr size_t kMaxNameInTemp = 200;

std::string RandomSuffix() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 gen{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  std::string out(kTempRandomChars, '\0');
  for (char& c : out) c = kChars[pick(gen)];
  return out;
}

[[noreturn]] void ThrowWriteError(const std::string& target, int error) {
  throw EFileError(fmt::format("Cannot write file \"{}\". {}", target, SystemMessage(error)));
}

}  // namespace

ReplacementFile::ReplacementFile(const SafePath& target)
    : target_(target.full), leaf_(target.leaf) {
  if (target.leaf.empty()) throw EFCreateError(target_, SystemMessage(EISDIR));
  folder_fd_ = OpenCheckedFolder(target);
  if (folder_fd_ < 0) throw EFCreateError(target_, SystemMessage(errno));
  try {
    struct stat st {};
    const bool exists = ::fstatat(folder_fd_, leaf_.c_str(), &st, 0) == 0;
    if (exists && S_ISDIR(st.st_mode)) throw EFCreateError(target_, SystemMessage(EISDIR));
    if (exists && ::faccessat(folder_fd_, leaf_.c_str(), W_OK, 0) != 0)
      throw EFCreateError(target_, SystemMessage(errno));

    const std::string stem =
        "." + leaf_.substr(0, std::min(leaf_.size(), kMaxNameInTemp)) + std::string(kTempTag);
    for (int attempt = 0; fd_ < 0; ++attempt) {
      temp_ = stem + RandomSuffix();
      fd_ = ::openat(folder_fd_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
        const int error = errno;
        temp_.clear();
        throw EFCreateError(target_, SystemMessage(error));
      }
    }
    // A replaced file keeps its permission bits.
    if (exists) ::fchmod(fd_, st.st_mode & 07777);
  } catch (...) {
    ::close(folder_fd_);
    throw;
  }
}

ReplacementFile::~ReplacementFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlinkat(folder_fd_, temp_.c_str(), 0);
  ::close(folder_fd_);
}

void ReplacementFile::Write(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowWriteError(target_, errno);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void ReplacementFile::Commit() {
  if (::fsync(fd_) != 0) ThrowWriteError(target_, errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) ThrowWriteError(target_, errno);
  if (::renameat(folder_fd_, temp_.c_str(), folder_fd_, leaf_.c_str()) != 0)
    ThrowWriteError(target_, errno);
  temp_.clear();
  ::fsync(folder_fd_);
}

bool IsReplacementTempName(std::string_view name) {
  if (name.size() < 1 + kTempTag.size() + kTempRandomChars || name.front() != '.') return false;
  return name.substr(name.size() - kTempRandomChars - kTempTag.size(), kTempTag.size()) == kTempTag;
}

}  // namespace velmora
