#include "services/files/file_reader.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/file_errors.h"
#include "services/files/server_own_files.h"
#include "services/files/unique_fd.h"

namespace velmora {
namespace {

// Opens the file for reading and checks what was opened and that it can be transferred; returns
// its size.
uint64_t OpenForTransfer(const SafePath& source, uint64_t max_size, UniqueFd& fd) {
  const std::string& path = source.full;
  // O_NONBLOCK keeps a FIFO put in place of the file from stalling the call.
  fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) throw EFOpenError(path, SystemMessage(errno));
  RefuseOpenedServerOwnFile(fd.Get(), source);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) throw EFOpenError(path, SystemMessage(errno));
  if (S_ISDIR(st.st_mode)) throw EFOpenError(path, SystemMessage(EISDIR));
  if (!S_ISREG(st.st_mode)) throw EFOpenError(path, SystemMessage(EINVAL));
  if (st.st_size > kMaxTransferSize) throw EFOpenError(path, SystemMessage(EFBIG));
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size > max_size) {
    throw EFOpenError(path, fmt::format("The file is {} bytes long, more than the transfer limit "
                                        "of {} bytes",
                                        size, max_size));
  }
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

bool RegularFileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void ReadWholeFile(const SafePath& source, TMemoryStream& into, uint64_t max_size,
                   const std::function<void(uint64_t size)>& before_read) {
  UniqueFd fd;
  const uint64_t size = OpenForTransfer(source, max_size, fd);
  if (before_read) before_read(size);

  std::string& buffer = into.Buffer();
  buffer.clear();
  buffer.resize(static_cast<size_t>(size));
  try {
    buffer.resize(ReadUpTo(fd.Get(), source.full, buffer.data(), buffer.size()));
  } catch (...) {
    buffer.clear();
    throw;
  }
  into.SetPosition(0);
}

}  // namespace velmora
