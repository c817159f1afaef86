// Compression of data packets: a memory stream's whole content replaced in place by its zlib
// stream (RFC 1950, window bits 15), and back. Packets are deflated whole by libdeflate at the
// selector's level (its levels 0 to 9 are zlib's in kind, and its header names the same level
// class); any zlib inflater reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/memory_budget.h"
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

// Deflate level for a compression selector, on zlib's scale: 0 -> 0 (stored), 1 -> 1, 2 -> -1
// (zlib's default, 6), anything else -> 9.
int CompressionLevelOfSelector(int selector);

// Replaces the stream's content by the bytes of the zlib stream it holds; position 0 afterwards.
// Empty input gives empty output; bytes after the end of the zlib stream are ignored. A bad
// header, bad deflate data, a wrong checksum or a stream cut before its end raise
// EZDecompressionError and leave the content as it was.
void DecompressMemoryStream(TMemoryStream& stream);

// Content below this size (smaller than the transport's compression threshold) is written as
// stored blocks at every selector: setting up a deflater's match finder costs more than the whole
// packet, and such a packet stays small on the wire either way.
inline constexpr size_t kStoredPacketBelow = 1024;

// The longest packet CompressMemoryStream can make of `content_size` bytes, at any selector.
uint64_t PacketBound(uint64_t content_size);

// Replaces the stream's content by its zlib stream at the selector's level (stored blocks below
// kStoredPacketBelow bytes); position 0 afterwards. On failure the content is left as it was,
// except when memory runs out while a large packet (above 64 KiB) is copied into the stream: its
// content has been released by then, so that the content and two copies of the packet never take
// memory at once.
void CompressMemoryStream(TMemoryStream& stream, int selector);

// A packet whose content is larger than its caller takes. The text names the content and limit.
class EPacketTooLarge : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// Bounded inflation of packets that clients send, for content that must not be trusted to be
// small (a zlib bomb). Rules:
// - The zlib stream is read as DecompressMemoryStream reads it (trailing bytes ignored; the same
//   EZDecompressionError texts), but its content is counted while it is inflated: once it passes
//   `max_size` bytes, EPacketTooLarge is raised with the text "<what> is larger than the limit of
//   <max_size> bytes", before more is produced.
// - Memory comes from the process memory budget before it is used (EMemoryBudgetExceeded when it
//   cannot be had): InflateTo reserves its fixed working buffer for the call; InflateToString
//   charges the string's growth to `held`, which the caller keeps as long as the string.

// Hands the content to `sink` in pieces of at most kInflateChunk bytes, never holding it whole.
inline constexpr size_t kInflateChunk = 256 * 1024;
void InflateTo(std::string_view packet, uint64_t max_size, std::string_view what,
               const std::function<void(const char* data, size_t size)>& sink);

// The whole content as one string.
std::string InflateToString(std::string_view packet, uint64_t max_size, std::string_view what,
                            MemoryReservation& held);

}  // namespace velmora
