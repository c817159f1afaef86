// Errors of the file operations, carrying the texts clients see.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "common/velmora_error.h"

namespace velmora {

// Any failure of a file operation.
class EFileError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// "Cannot create file "<path>". <reason>"
class EFCreateError : public EFileError {
 public:
  EFCreateError(std::string_view path, std::string_view reason);
};

// "Cannot open file "<path>". <reason>"
class EFOpenError : public EFileError {
 public:
  EFOpenError(std::string_view path, std::string_view reason);
};

// The system's message for an errno value.
std::string SystemMessage(int error);

}  // namespace velmora
