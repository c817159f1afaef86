// Reading a whole file straight into a memory stream's buffer.
#pragma once

#include <cstdint>
#include <string>

#include "data/memory_stream.h"

namespace velmora {

// Files longer than this cannot cross the remote interface (sizes and array bounds are 32-bit).
inline constexpr int64_t kMaxTransferSize = INT32_MAX;

// Whether a regular file exists at path (following links; a folder does not count).
bool RegularFileExists(const std::string& path);

// Replaces the stream's content by the whole file, position 0. Raises EFOpenError when the file
// cannot be opened or is longer than kMaxTransferSize, EFileError when reading fails.
void ReadWholeFile(const std::string& path, TMemoryStream& into);

}  // namespace velmora
