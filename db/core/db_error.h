// Errors of the data-access layer.
#pragma once

#include <string>

#include "common/velmora_error.h"

namespace velmora {

// The message refusing command text that holds a NUL character; fmt pattern: the byte offset of
// the first NUL. SQL text never holds one, and the engines read text only up to it.
inline constexpr const char* kNulInCommandTextMessage =
    "Command text holds a NUL character at byte {}; SQL text must not contain NUL";

// A failure of the data-access layer itself (empty command text, unknown parameter type,
// unknown driver, no connection ...).
class EFDException : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// A failure reported by the database engine; the message is the engine's own text.
class EFDDBEngineException : public EFDException {
 public:
  EFDDBEngineException(int error_code, const std::string& message)
      : EFDException(message), error_code_(error_code) {}
  // The engine's own error code (SQLite: the extended result code).
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_;
};

}  // namespace velmora
