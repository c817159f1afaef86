#include "services/files/file_reader.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/file_errors.h"

namespace velmora {
namespace {

struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

}  // namespace

bool RegularFileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void ReadWholeFile(const std::string& path, TMemoryStream& into, uint64_t max_size,
                   const std::function<void(uint64_t size)>& before_read) {
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
  if (before_read) before_read(size);

  std::string& buffer = into.Buffer();
  buffer.clear();
  buffer.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      buffer.clear();
      throw EFileError(fmt::format("Cannot read file \"{}\". {}", path, SystemMessage(error)));
    }
    if (n == 0) break;  // the file shrank meanwhile
    done += static_cast<size_t>(n);
  }
  buffer.resize(done);
  into.SetPosition(0);
}

}  // namespace velmora
