#include "maintenance/backup/copy_database_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "maintenance/backup/backup_error.h"

namespace velmora {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
  throw EBackupError(fmt::format("Cannot {} {}: {}", what, path, std::strerror(error)));
}

// A file descriptor closed when it goes.
class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int Get() const { return fd_; }
  // Closes now, so that a failure of the close (a delayed write error) is seen.
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

void WriteAll(int fd, const char* data, size_t size, const std::string& path) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("write", path, errno);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void Copy(int source, const std::string& Source, int dest, const std::string& Dest) {
  const auto buffer = std::make_unique<char[]>(kCopyBufferSize);
  for (;;) {
    const ssize_t n = ::read(source, buffer.get(), kCopyBufferSize);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("read", Source, errno);
    }
    if (n == 0) return;
    WriteAll(dest, buffer.get(), static_cast<size_t>(n), Dest);
  }
}

}  // namespace

void CopyDatabaseFile(const std::string& Source, const std::string& Dest) {
  FileHandle source(::open(Source.c_str(), O_RDONLY | O_CLOEXEC));
  if (source.Get() < 0) Fail("open", Source, errno);
  struct stat info {};
  if (::fstat(source.Get(), &info) != 0) Fail("read", Source, errno);
  const auto length = static_cast<uint32_t>(static_cast<uint64_t>(info.st_size));

  FileHandle dest(::open(Dest.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (dest.Get() < 0) Fail("create", Dest, errno);
  try {
    Copy(source.Get(), Source, dest.Get(), Dest);
    const std::array<char, 4> trailer = {
        static_cast<char>(length & 0xff), static_cast<char>((length >> 8) & 0xff),
        static_cast<char>((length >> 16) & 0xff), static_cast<char>((length >> 24) & 0xff)};
    WriteAll(dest.Get(), trailer.data(), trailer.size(), Dest);
    if (dest.Close() != 0) Fail("write", Dest, errno);
  } catch (...) {
    ::unlink(Dest.c_str());  // half a copy is no backup
    throw;
  }
}

}  // namespace velmora
