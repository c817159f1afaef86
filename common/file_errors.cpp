#include "common/file_errors.h"

#include <fmt/format.h>

#include <cstring>

namespace velmora {

EFCreateError::EFCreateError(std::string_view path, std::string_view reason)
    : EFileError(fmt::format("Cannot create file \"{}\". {}", path, reason)) {}

EFOpenError::EFOpenError(std::string_view path, std::string_view reason)
    : EFileError(fmt::format("Cannot open file \"{}\". {}", path, reason)) {}

std::string SystemMessage(int error) {
  char buf[256];
  // The GNU strerror_r returns the message, which may or may not live in buf.
  return strerror_r(error, buf, sizeof buf);
}

}  // namespace velmora
