#include "codec/packet_pieces.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <new>

#include "codec/uCompressionStream.h"

namespace velmora {
namespace {

constexpr int kWindowBits = 15;

int LevelFor(int selector, uint64_t content_size) {
  if (content_size < kStoredPacketBelow) return 0;
  const int level = CompressionLevelOfSelector(selector);
  return level == Z_DEFAULT_COMPRESSION ? 6 : level;  // libdeflate's 0 to 9 are zlib's in kind
}

// The two header bytes zlib writes for `level`: deflate, 32 KiB window, the level's class.
void PutHeader(std::vector<uint8_t>& out, int level) {
  const unsigned level_class = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned header = (0x78u << 8) | (level_class << 6);
  header += 31 - header % 31;
  out.push_back(static_cast<uint8_t>(header >> 8));
  out.push_back(static_cast<uint8_t>(header));
}

}  // namespace

// Walks the blocks of a raw deflate stream with zlib's inflater stopping at each block boundary
// (Z_BLOCK); the inflated bytes are thrown away.
class TPacketFromPieces::BlockScanner {
 public:
  BlockScanner() {
    const int rc = inflateInit2(&zs_, -kWindowBits);
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    if (rc != Z_OK) throw EZCompressionError("Compression error: cannot start the block scanner");
  }
  ~BlockScanner() { inflateEnd(&zs_); }
  BlockScanner(const BlockScanner&) = delete;
  BlockScanner& operator=(const BlockScanner&) = delete;

  // The bit at which the stream's last block starts, and the bit after its end; bits count from
  // the first byte's least significant bit, as deflate packs them.
  void FindLastBlock(const uint8_t* stream, size_t size, uint64_t& last_start, uint64_t& end) {
    inflateReset(&zs_);
    zs_.next_in = const_cast<Bytef*>(stream);
    zs_.avail_in = static_cast<uInt>(size);
    last_start = 0;
    bool ended = false;
    for (;;) {
      zs_.next_out = scratch_;
      zs_.avail_out = sizeof scratch_;
      const int rc = inflate(&zs_, Z_BLOCK);
      if (rc == Z_STREAM_END && ended) return;
      if (rc == Z_MEM_ERROR) throw std::bad_alloc();
      if (rc != Z_OK && !(rc == Z_BUF_ERROR && zs_.avail_in > 0)) {
        throw EZCompressionError("Compression error: a deflated piece does not end");
      }
      // At a block boundary the inflater holds the bits it took past it (data_type's low six
      // bits); after the last block it stops there once more before it skips to a byte boundary.
      if ((zs_.data_type & 128) != 0) {
        const uint64_t bit =
            uint64_t{zs_.total_in} * 8 - (static_cast<unsigned>(zs_.data_type) & 63);
        if ((zs_.data_type & 64) != 0) {
          end = bit;
          ended = true;
        } else {
          last_start = bit;
        }
      }
    }
  }

 private:
  z_stream zs_{};
  Bytef scratch_[64 * 1024];
};

TPacketFromPieces::TPacketFromPieces(int selector, uint64_t content_size)
    : lease_(LevelFor(selector, content_size)), scanner_(std::make_unique<BlockScanner>()) {
  packet_.reserve(static_cast<size_t>(PacketBound(content_size) +
                                      kPieceOverhead * (content_size / kPacketPiece + 1)));
  PutHeader(packet_, LevelFor(selector, content_size));
}

TPacketFromPieces::~TPacketFromPieces() = default;

void TPacketFromPieces::Add(const char* data, size_t size) {
  // Longer input goes in pieces of kPacketPiece, so the piece's buffer stays that small.
  while (size > 0) {
    const size_t piece = std::min(size, kPacketPiece);
    AddPiece(data, piece);
    data += piece;
    size -= piece;
  }
}

void TPacketFromPieces::AddPiece(const char* data, size_t size) {
  adler_ = libdeflate_adler32(adler_, data, size);
  libdeflate_compressor& compressor = lease_.Compressor();
  const size_t bound = libdeflate_deflate_compress_bound(&compressor, size);
  if (bound > deflated_capacity_) {
    deflated_.reset(new uint8_t[bound]);
    deflated_capacity_ = bound;
  }
  const size_t n = libdeflate_deflate_compress(&compressor, data, size, deflated_.get(), bound);
  if (n == 0) throw EZCompressionError("Compression error: output buffer too small");

  uint64_t last_start = 0;
  uint64_t end = 0;
  scanner_->FindLastBlock(deflated_.get(), n, last_start, end);
  uint8_t* const bytes = deflated_.get();
  bytes[last_start / 8] &= static_cast<uint8_t>(~(1u << (last_start % 8)));  // not final
  const size_t used = static_cast<size_t>((end + 7) / 8);
  if (end % 8 != 0) bytes[used - 1] &= static_cast<uint8_t>((1u << (end % 8)) - 1);
  packet_.insert(packet_.end(), bytes, bytes + used);
  // An empty stored block: three header bits (not final, type 00) from `end`, zeros up to the
  // byte boundary, then LEN 0 and NLEN 0xFFFF. The header spills into a new byte when fewer than
  // three bits of the last one are free.
  const unsigned free_bits = static_cast<unsigned>((8 - end % 8) % 8);
  if (free_bits < 3) packet_.push_back(0);
  const uint8_t empty_stored[] = {0x00, 0x00, 0xFF, 0xFF};
  packet_.insert(packet_.end(), empty_stored, empty_stored + sizeof empty_stored);
}

std::vector<uint8_t> TPacketFromPieces::Finish() {
  // The final block: fixed Huffman codes, holding only its end code (ten bits).
  packet_.push_back(0x03);
  packet_.push_back(0x00);
  for (int shift = 24; shift >= 0; shift -= 8)
    packet_.push_back(static_cast<uint8_t>(adler_ >> shift));
  return std::move(packet_);
}

}  // namespace velmora
