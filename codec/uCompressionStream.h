// Compression of data packets: a memory stream's whole content replaced in place by its zlib
// stream (RFC 1950, window bits 15, memory level 8, default strategy), and back.
#pragma once


#include "common/velmora_error.h"
#include "data/memory_stream.h"

namespace velmora {

class EZLibError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};
class EZCompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};
class EZDecompressionError : public EZLibError {
 public:
  using EZLibError::EZLibError;
};

// The selector every data packet of the system is compressed with (zlib's default level).
inline constexpr int kPacketSelector = 2;

// Deflate level for a compression selector: 0 -> 0 (stored), 1 -> 1, 2 -> -1 (zlib's default,
// 6), anything else -> 9.
int CompressionLevelOfSelector(int selector);

// Replaces the stream's content by the bytes of the zlib stream it holds; position 0 afterwards.
// Empty input gives empty output; bytes after the end of the zlib stream are ignored. A bad
// header, bad deflate data, a wrong checksum or a stream cut before its end raise
// EZDecompressionError and leave the content as it was.
void DecompressMemoryStream(TMemoryStream& stream);

// Replaces the stream's content by its zlib stream at the selector's level; position 0
// afterwards. On failure the content is left as it was.
void CompressMemoryStream(TMemoryStream& stream, int selector);

}  // namespace velmora
