#include "rpc/frame_codec.h"

#include <fmt/format.h>
#include <zlib.h>

#include <algorithm>
#include <new>

#include "rpc/rpc_errors.h"
#include "variant/byte_io.h"

namespace velmora {
namespace {

// Deflate never expands data by more than this factor, so a larger claimed size is a lie.
constexpr uint64_t kMaxInflateRatio = 1032;
// Scratch memory above this is given back after a frame.
constexpr size_t kTrimAbove = 4u << 20;
// A large message is deflated only when a sample of its start shrinks by at least 1/64, so that
// already-compressed data packets do not cost a full deflate pass on every send.
constexpr size_t kProbeAbove = 64u << 10;
constexpr size_t kProbeSize = 16u << 10;
// The first part of an inflater's output buffer that is filled; it doubles from there up to the
// claimed size.
constexpr size_t kFirstInflateStep = 64u << 10;

}  // namespace

struct TDSFrameCodec::ZState {
  z_stream deflater{};
  z_stream inflater{};
  ZState() {
    // The fastest level: most large messages are data packets, already deflated, where a higher
    // level saves almost nothing more and costs a large share of a big query's time.
    if (deflateInit(&deflater, Z_BEST_SPEED) != Z_OK) throw std::bad_alloc();
    if (inflateInit(&inflater) != Z_OK) {
      deflateEnd(&deflater);
      throw std::bad_alloc();
    }
  }
  ~ZState() {
    deflateEnd(&deflater);
    inflateEnd(&inflater);
  }
  ZState(const ZState&) = delete;
  ZState& operator=(const ZState&) = delete;
};

TDSFrameCodec::TDSFrameCodec(uint32_t compress_more_than, uint32_t max_frame_size)
    : compress_more_than_(compress_more_than), max_frame_size_(max_frame_size) {}

TDSFrameCodec::~TDSFrameCodec() = default;

void TDSFrameCodec::Begin(std::string& frame) {
  frame.assign(kFrameHeaderSize, '\0');
}

void TDSFrameCodec::Seal(std::string& frame, bool may_deflate) {
  const size_t n = frame.size() - kFrameHeaderSize;
  if (n > max_frame_size_) {
    throw EDSProtocolError(fmt::format(
        "Message of {} bytes exceeds the maximum frame size of {} bytes", n, max_frame_size_));
  }
  uint8_t flags = 0;
  if (may_deflate && n > compress_more_than_ && n > 8 && (n <= kProbeAbove || Worthwhile(frame))) {
    if (!z_) z_ = std::make_unique<ZState>();
    z_stream& d = z_->deflater;
    deflateReset(&d);
    // Room for a result strictly smaller than the plain message; deflate stops when it is full.
    const size_t room = n - 5;
    scratch_.resize(kFrameHeaderSize + 4 + room);
    d.next_in = reinterpret_cast<Bytef*>(frame.data() + kFrameHeaderSize);
    d.avail_in = static_cast<uInt>(n);
    d.next_out = reinterpret_cast<Bytef*>(scratch_.data() + kFrameHeaderSize + 4);
    d.avail_out = static_cast<uInt>(room);
    if (deflate(&d, Z_FINISH) == Z_STREAM_END) {
      scratch_.resize(kFrameHeaderSize + 4 + (room - d.avail_out));
      StoreAt<uint32_t>(scratch_.data() + kFrameHeaderSize, static_cast<uint32_t>(n));
      frame.swap(scratch_);
      flags = kFrameDeflated;
    }
  }
  StoreAt<uint32_t>(frame.data(), static_cast<uint32_t>(frame.size() - kFrameHeaderSize));
  frame[4] = static_cast<char>(flags);
}

bool TDSFrameCodec::Worthwhile(std::string& frame) {
  if (!z_) z_ = std::make_unique<ZState>();
  z_stream& d = z_->deflater;
  deflateReset(&d);
  const size_t room = kProbeSize - kProbeSize / 64;
  scratch_.resize(room);
  d.next_in = reinterpret_cast<Bytef*>(frame.data() + kFrameHeaderSize);
  d.avail_in = static_cast<uInt>(kProbeSize);
  d.next_out = reinterpret_cast<Bytef*>(scratch_.data());
  d.avail_out = static_cast<uInt>(room);
  return deflate(&d, Z_FINISH) == Z_STREAM_END;
}

FrameHeader TDSFrameCodec::ParseHeader(const uint8_t* header) const {
  FrameHeader h;
  h.length = LoadFrom<uint32_t>(header);
  h.flags = header[4];
  if ((h.flags & ~kFrameDeflated) != 0) {
    throw EDSProtocolError(fmt::format("Unknown frame flags {:#04x}", h.flags));
  }
  if (h.length > max_frame_size_) {
    throw EDSProtocolError(fmt::format(
        "Frame of {} bytes exceeds the maximum frame size of {} bytes", h.length, max_frame_size_));
  }
  return h;
}

std::string_view TDSFrameCodec::Unpack(const FrameHeader& header, std::string_view payload) {
  if ((header.flags & kFrameDeflated) == 0) return payload;
  if (payload.size() < 4) throw EDSProtocolError("Corrupt compressed frame");
  const uint32_t raw = LoadFrom<uint32_t>(payload.data());
  if (raw > max_frame_size_) {
    throw EDSProtocolError(fmt::format(
        "Frame of {} bytes exceeds the maximum frame size of {} bytes", raw, max_frame_size_));
  }
  if (raw == 0 || raw > (payload.size() - 4) * kMaxInflateRatio + 64) {
    throw EDSProtocolError("Corrupt compressed frame");
  }
  if (!z_) z_ = std::make_unique<ZState>();
  z_stream& f = z_->inflater;
  inflateReset(&f);
  // The whole inflated size is charged to the memory budget before anything is inflated, and the
  // buffer is allocated once at that size, so that it never moves: growing it by doubling held the
  // old and the new buffer at once while the bytes moved, half as much again as was charged. The
  // buffer's pages are touched only as the output fills them, so a claimed size that the payload
  // does not make costs its charge, not resident memory.
  inflated_reserved_ = MemoryReservation();
  inflated_reserved_.Grow(raw);
  if (inflated_.capacity() < raw) std::string().swap(inflated_);
  inflated_.reserve(raw);
  size_t size = std::min<size_t>(raw, kFirstInflateStep);
  inflated_.resize(size);
  f.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data() + 4));
  f.avail_in = static_cast<uInt>(payload.size() - 4);
  f.next_out = reinterpret_cast<Bytef*>(inflated_.data());
  f.avail_out = static_cast<uInt>(size);
  for (;;) {
    const int rc = inflate(&f, Z_FINISH);
    if (rc == Z_STREAM_END) break;
    if ((rc != Z_BUF_ERROR && rc != Z_OK) || f.avail_out != 0 || size == raw) {
      throw EDSProtocolError("Corrupt compressed frame");
    }
    const size_t grown = std::min<size_t>(raw, size * 2);
    inflated_.resize(grown);  // within the capacity reserved above
    f.next_out = reinterpret_cast<Bytef*>(inflated_.data() + size);
    f.avail_out = static_cast<uInt>(grown - size);
    size = grown;
  }
  if (f.avail_out != 0 || f.avail_in != 0 || size != raw) {
    throw EDSProtocolError("Corrupt compressed frame");
  }
  return inflated_;
}

void TDSFrameCodec::Trim() {
  if (scratch_.capacity() > kTrimAbove) std::string().swap(scratch_);
  if (inflated_.capacity() > kFirstInflateStep) std::string().swap(inflated_);
  inflated_reserved_ = MemoryReservation();
}

}  // namespace velmora
