// CopyDatabaseFile: the backup copy of a file database (Access): the source's bytes followed by a
// 4-byte trailer holding the source's length as noted before the copy (its low 32 bits,
// little-endian).
#pragma once

#include <cstddef>
#include <string>

namespace velmora {

// The size of the buffer the copy goes through.
inline constexpr size_t kCopyBufferSize = 1048576;

// Opens `Source` for reading (others may go on reading and writing it: an open database file can
// be copied), creates `Dest` replacing any file of that name, copies the whole source through a
// kCopyBufferSize buffer and appends the trailer. Both files are closed on every path. Raises
// EBackupError naming the file on any file error; a destination left incomplete is removed.
void CopyDatabaseFile(const std::string& Source, const std::string& Dest);

}  // namespace velmora
