// A data packet made of content that arrives in pieces (a file read part by part), so that the
// content is never held whole: the packet is the only buffer that grows with the content.
//
// Each piece is deflated on its own by libdeflate at the selector's level (stored blocks when the
// whole content is below kStoredPacketBelow, as CompressMemoryStream does), and the pieces are
// joined into one zlib stream (RFC 1950, window bits 15) that any inflater reads: a piece's last
// block loses its final-block flag and is followed by an empty stored block (what zlib's own
// Z_SYNC_FLUSH writes), so the next piece starts on a byte boundary. Matches do not reach across
// pieces, which costs next to nothing with pieces far longer than deflate's 32 KiB window.
//
// Thread rules: one object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/compressor_cache.h"

namespace velmora {

// Pieces of this size suit: large enough that the per-piece start-up and join are lost in the
// deflate work, small enough to be held beside the packet.
inline constexpr size_t kPacketPiece = 1024 * 1024;

// What a packet may take beyond PacketBound(content) for each piece added: the join, and the
// block headers a piece's own blocks need. Pieces far below kPacketPiece cost this much each.
inline constexpr size_t kPieceOverhead = 11;

class TPacketFromPieces {
 public:
  // `content_size`: the whole content's length, for the level and the packet's reservation (its
  // worst case in pieces of kPacketPiece, reserved but not touched). Raises std::bad_alloc.
  TPacketFromPieces(int selector, uint64_t content_size);
  ~TPacketFromPieces();
  TPacketFromPieces(const TPacketFromPieces&) = delete;
  TPacketFromPieces& operator=(const TPacketFromPieces&) = delete;

  // Deflates the next piece (any length; an empty one adds nothing).
  void Add(const char* data, size_t size);
  // Ends the stream (final block and checksum) and hands the packet over; the object is spent.
  std::vector<uint8_t> Finish();

 private:
  class BlockScanner;
  void AddPiece(const char* data, size_t size);  // at most kPacketPiece bytes, at least one

  TCompressorLease lease_;
  std::vector<uint8_t> packet_;
  std::unique_ptr<uint8_t[]> deflated_;  // one piece's deflate stream
  size_t deflated_capacity_ = 0;
  std::unique_ptr<BlockScanner> scanner_;
  uint32_t adler_ = 1;
};

}  // namespace velmora
