#include "app/config/settings_access.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>

#include "common/file_errors.h"

namespace velmora {

std::optional<std::string> UnreadableSettingsFile(const std::string& path) {
  // O_NONBLOCK: a FIFO in its place is reported, not waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  int error = 0;
  if (fd < 0) {
    error = errno;
    if (error == ENOENT) return std::nullopt;
  } else {
    // Opening a folder succeeds; reading it fails (EISDIR), as does reading a file the open let
    // through but the file system will not hand out.
    char byte = 0;
    if (::read(fd, &byte, 1) < 0 && errno != EAGAIN) error = errno;
    ::close(fd);
  }
  if (error == 0) return std::nullopt;
  return fmt::format("Cannot read the settings file {}: {}", path, SystemMessage(error));
}

}  // namespace velmora
