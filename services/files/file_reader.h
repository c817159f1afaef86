// Reading a file for a transfer: whole into a memory stream's buffer, or piece by piece.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "data/memory_stream.h"

namespace velmora {

// Files longer than this cannot cross the remote interface (sizes and array bounds are 32-bit).
inline constexpr int64_t kMaxTransferSize = INT32_MAX;

// Whether a regular file exists at path (following links; a folder does not count).
bool RegularFileExists(const std::string& path);

// Replaces the stream's content by the whole file, position 0. Raises EFileError when reading
// fails and EFOpenError, before anything is read, when the file cannot be opened, is longer than
// kMaxTransferSize ("File too large") or longer than `max_size` (a text naming the size and the
// limit). `before_read`, when given, is called with the file's size before its buffer is made
// (to reserve memory for it; what it raises goes to the caller).
void ReadWholeFile(const std::string& path, TMemoryStream& into,
                   uint64_t max_size = kMaxTransferSize,
                   const std::function<void(uint64_t size)>& before_read = {});

// The same file handed to `sink` in pieces of at most `piece` bytes, in order, never held whole;
// the same checks and errors as ReadWholeFile, `before_read` called with the size before the
// first piece. A file that shrinks meanwhile ends early; one that grows is read up to the size.
void ReadFileInPieces(const std::string& path, uint64_t max_size,
                      const std::function<void(uint64_t size)>& before_read, size_t piece,
                      const std::function<void(const char* data, size_t size)>& sink);

}  // namespace velmora
