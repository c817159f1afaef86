#include "services/files/replacement_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "common/file_errors.h"

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

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

ReplacementFile::ReplacementFile(const SafePath& target) : target_(target.full) {
  if (target.leaf.empty()) throw EFCreateError(target_, SystemMessage(EISDIR));
  struct stat st {};
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) throw EFCreateError(target_, SystemMessage(EISDIR));
  if (exists && ::access(target_.c_str(), W_OK) != 0)
    throw EFCreateError(target_, SystemMessage(errno));

  const std::string stem = target.folder + "." +
                           target.leaf.substr(0, std::min(target.leaf.size(), kMaxNameInTemp)) +
                           std::string(kTempTag);
  for (int attempt = 0; fd_ < 0; ++attempt) {
    temp_ = stem + RandomSuffix();
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
      const int error = errno;
      temp_.clear();
      throw EFCreateError(target_, SystemMessage(error));
    }
  }
  // A replaced file keeps its permission bits.
  if (exists) ::fchmod(fd_, st.st_mode & 07777);
}

ReplacementFile::~ReplacementFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
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
  if (::rename(temp_.c_str(), target_.c_str()) != 0) ThrowWriteError(target_, errno);
  temp_.clear();
  SyncFolder(target_.substr(0, target_.find_last_of('/') + 1));
}

bool IsReplacementTempName(std::string_view name) {
  if (name.size() < 1 + kTempTag.size() + kTempRandomChars || name.front() != '.') return false;
  return name.substr(name.size() - kTempRandomChars - kTempTag.size(), kTempTag.size()) == kTempTag;
}

}  // namespace velmora
