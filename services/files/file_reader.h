// Reading a file for a transfer, whole, into a memory stream's buffer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "data/memory_stream.h"
#include "services/files/safe_path.h"

namespace velmora {

// Files longer than this cannot cross the remote interface (sizes and array bounds are 32-bit).
inline constexpr int64_t kMaxTransferSize = INT32_MAX;

// Whether a regular file exists at path (following links; a folder does not count).
bool RegularFileExists(const std::string& path);

// Replaces the stream's content by the whole file `source`, position 0. What was opened is checked
// before anything is read (RefuseOpenedServerOwnFile, server_own_files.h: EUnsafePath,
// EServerOwnFile), so a link swapped in after the path was checked hands out nothing. Raises
// EFileError when reading fails and EFOpenError, before anything is read, when the file cannot
// be opened, is not a regular file, is longer than kMaxTransferSize ("File too large") or longer
// than `max_size` (a text naming the size and the limit). `before_read`, when given, is called
// with the file's size before its buffer is made (to reserve memory for it; what it raises goes
// to the caller). A file that shrinks meanwhile is read to its end; one that grows is read up to
// the size.
void ReadWholeFile(const SafePath& source, TMemoryStream& into,
                   uint64_t max_size = kMaxTransferSize,
                   const std::function<void(uint64_t size)>& before_read = {});

}  // namespace velmora
