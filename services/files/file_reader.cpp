#include "services/files/file_reader.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "common/file_errors.h"

namespace velmora {
namespace {

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

bool RegularFileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

namespace {

// Opens the file for reading and checks it can be transferred; returns its size.
uint64_t OpenForTransfer(const std::string& path, uint64_t max_size, int& fd_out) {
  // O_NONBLOCK keeps a FIFO put in place of the file from stalling the call.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw EFOpenError(path, SystemMessage(errno));
  FdCloser closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw EFOpenError(path, SystemMessage(errno));
  if (S_ISDIR(st.st_mode)) throw EFOpenError(path, SystemMessage(EISDIR));
  if (!S_ISREG(st.st_mode)) throw EFOpenError(path, SystemMessage(EINVAL));
  if (st.st_size > kMaxTransferSize) throw EFOpenError(path, SystemMessage(EFBIG));
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size > max_size) {
    throw EFOpenError(path, fmt::format("The file is {} bytes long, more than the transfer limit "
                                        "of {} bytes",
                                        size, max_size));
  }
  closer.fd = -1;
  fd_out = fd;
  return size;
}

// Reads up to `size` bytes at `data`; fewer only at the end of the file.
size_t ReadUpTo(int fd, const std::string& path, char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      throw EFileError(fmt::format("Cannot read file \"{}\". {}", path, SystemMessage(error)));
    }
    if (n == 0) break;  // the file shrank meanwhile
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

void ReadWholeFile(const std::string& path, TMemoryStream& into, uint64_t max_size,
                   const std::function<void(uint64_t size)>& before_read) {
  int fd = -1;
  const uint64_t size = OpenForTransfer(path, max_size, fd);
  FdCloser closer{fd};
  if (before_read) before_read(size);

  std::string& buffer = into.Buffer();
  buffer.clear();
  buffer.resize(static_cast<size_t>(size));
  try {
    buffer.resize(ReadUpTo(fd, path, buffer.data(), buffer.size()));
  } catch (...) {
    buffer.clear();
    throw;
  }
  into.SetPosition(0);
}

void ReadFileInPieces(const std::string& path, uint64_t max_size,
                      const std::function<void(uint64_t size)>& before_read, size_t piece,
                      const std::function<void(const char* data, size_t size)>& sink) {
  int fd = -1;
  const uint64_t size = OpenForTransfer(path, max_size, fd);
  FdCloser closer{fd};
  if (before_read) before_read(size);

  const size_t capacity = static_cast<size_t>(std::min<uint64_t>(size, piece));
  const std::unique_ptr<char[]> buffer(new char[capacity == 0 ? 1 : capacity]);
  uint64_t left = size;
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, capacity));
    const size_t got = ReadUpTo(fd, path, buffer.get(), want);
    if (got > 0) sink(buffer.get(), got);
    if (got < want) break;  // the file shrank meanwhile
    left -= got;
  }
}

}  // namespace velmora
