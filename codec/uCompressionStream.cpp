#include "codec/uCompressionStream.h"

#include <fmt/format.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "codec/compressor_cache.h"

namespace velmora {

namespace {

constexpr int kWindowBits = 15;
// zlib counts in uInt; larger buffers are fed and drained in pieces of at most this size.
constexpr size_t kMaxZChunk = std::numeric_limits<uInt>::max();

const char* ZMessage(const z_stream& zs, int rc) {
  return zs.msg != nullptr ? zs.msg : zError(rc);
}

// An inflater for one zlib stream, ended on every path out of the routine that made it.
class Inflater {
 public:
  Inflater() {
    const int init = inflateInit2(&zs, kWindowBits);
    if (init == Z_MEM_ERROR) throw std::bad_alloc();
    if (init != Z_OK) {
      throw EZDecompressionError(fmt::format("Decompression error: {}", zError(init)));
    }
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() { inflateEnd(&zs); }

  // Raises for the results of inflate() that end the stream as broken.
  void Check(int rc) const {
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    if (rc == Z_NEED_DICT)
      throw EZDecompressionError("Decompression error: stream needs a preset dictionary");
    if (rc == Z_DATA_ERROR || rc == Z_STREAM_ERROR)
      throw EZDecompressionError(fmt::format("Decompression error: {}", ZMessage(zs, rc)));
  }
  // Raises when inflate() stopped short of the end with all of the input's `size` bytes used
  // (Z_OK or Z_BUF_ERROR with room left for output): the data was cut off.
  void CheckNotCutShort(size_t consumed, size_t size) const {
    if (zs.avail_in == 0 && consumed == size && zs.avail_out != 0)
      throw EZDecompressionError(
          "Decompression error: the compressed data ends before the end of the stream");
  }

  z_stream zs{};
};

// Moves as much pending input as zlib can take in one call into zs.
void FeedInput(z_stream& zs, const char* data, size_t size, size_t& consumed) {
  if (zs.avail_in == 0 && consumed < size) {
    const size_t n = std::min(size - consumed, kMaxZChunk);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data + consumed));
    zs.avail_in = static_cast<uInt>(n);
    consumed += n;
  }
}

}  // namespace

int CompressionLevelOfSelector(int selector) {
  switch (selector) {
    case 0:
      return Z_NO_COMPRESSION;
    case 1:
      return Z_BEST_SPEED;
    case 2:
      return Z_DEFAULT_COMPRESSION;
    default:
      return Z_BEST_COMPRESSION;
  }
}

uint64_t PacketBound(uint64_t content_size) {
  // libdeflate's bound across every compressor it can make, so at every level.
  return libdeflate_zlib_compress_bound(nullptr, static_cast<size_t>(content_size));
}

void CompressMemoryStream(TMemoryStream& stream, int selector) {
  stream.SetPosition(0);
  const std::string& in = stream.Buffer();
  const int level =
      in.size() < kStoredPacketBelow ? Z_NO_COMPRESSION : CompressionLevelOfSelector(selector);
  // zlib's default level is 6; libdeflate's levels 0 to 9 match zlib's in kind.
  TCompressorLease lease(level == Z_DEFAULT_COMPRESSION ? 6 : level);
  libdeflate_compressor& compressor = lease.Compressor();

  // One pass into a worst-case buffer that is never initialised, so that the pages a large packet
  // does not fill are never touched; then the packet alone is copied into the stream. Small
  // packets use the buffer that comes with the lease.
  const size_t bound = libdeflate_zlib_compress_bound(&compressor, in.size());
  std::unique_ptr<char[]> large;
  char* out = nullptr;
  if (bound <= kLeasedOutputBuffer) {
    out = lease.OutputBuffer();
  } else {
    large.reset(new char[bound]);
    out = large.get();
  }
  const size_t produced = libdeflate_zlib_compress(&compressor, in.data(), in.size(), out, bound);
  if (produced == 0) throw EZCompressionError("Compression error: output buffer too small");
  if (large) {
    // A large content goes before the packet is copied, so that it and two copies of the packet
    // are never held at once.
    std::string().swap(stream.Buffer());
    stream.Buffer().assign(out, produced);
  } else {
    std::string packet(out, produced);
    stream.Buffer().swap(packet);
  }
  stream.SetPosition(0);
}

void DecompressMemoryStream(TMemoryStream& stream) {
  stream.SetPosition(0);
  const std::string& in = stream.Buffer();
  if (in.empty()) return;

  Inflater inflater;
  z_stream& zs = inflater.zs;

  // Packets usually shrink to a quarter or less; grow by doubling when the guess is short.
  std::string out;
  out.resize(std::clamp<size_t>(in.size() * 4, 64 * 1024, size_t{64} << 20));

  size_t consumed = 0;
  size_t produced = 0;
  for (;;) {
    FeedInput(zs, in.data(), in.size(), consumed);
    if (produced == out.size()) out.resize(out.size() * 2);
    const size_t room = std::min(out.size() - produced, kMaxZChunk);
    zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    zs.avail_out = static_cast<uInt>(room);
    const int rc = inflate(&zs, Z_NO_FLUSH);
    produced += room - zs.avail_out;
    if (rc == Z_STREAM_END) break;
    inflater.Check(rc);
    inflater.CheckNotCutShort(consumed, in.size());
  }
  out.resize(produced);
  stream.Buffer().swap(out);
  stream.SetPosition(0);
}

namespace {

// What zlib's inflater allocates beside the caller's buffer: its state and the 32 KiB window.
constexpr uint64_t kInflaterState = 48 * 1024;

}  // namespace

void InflateTo(std::string_view packet, uint64_t max_size, std::string_view what,
               const std::function<void(const char* data, size_t size)>& sink) {
  if (packet.empty()) return;
  MemoryReservation working = MemoryBudget::Process().Reserve(kInflateChunk + kInflaterState);
  // Not initialised: inflate writes every byte it hands on, and pages a small content never
  // reaches are never touched.
  const std::unique_ptr<char[]> buffer(new char[kInflateChunk]);

  Inflater inflater;
  z_stream& zs = inflater.zs;

  size_t consumed = 0;
  uint64_t total = 0;
  for (;;) {
    FeedInput(zs, packet.data(), packet.size(), consumed);
    zs.next_out = reinterpret_cast<Bytef*>(buffer.get());
    zs.avail_out = static_cast<uInt>(kInflateChunk);
    const int rc = inflate(&zs, Z_NO_FLUSH);
    const size_t produced = kInflateChunk - zs.avail_out;
    inflater.Check(rc);
    total += produced;
    if (total > max_size) {
      throw EPacketTooLarge(fmt::format("{} is larger than the limit of {} bytes", what, max_size));
    }
    if (produced > 0) sink(buffer.get(), produced);
    if (rc == Z_STREAM_END) return;
    inflater.CheckNotCutShort(consumed, packet.size());
  }
}

std::string InflateToString(std::string_view packet, uint64_t max_size, std::string_view what,
                            MemoryReservation& held) {
  std::string out;
  uint64_t charged = 0;
  InflateTo(packet, max_size, what, [&](const char* data, size_t size) {
    const uint64_t needed = out.size() + size;
    if (needed > charged) {
      // Doubling, as the string would, but charged before the allocation and never past the
      // limit, which the content cannot exceed.
      const uint64_t capacity = std::max(needed, std::min<uint64_t>(max_size, charged * 2));
      held.Grow(capacity - charged);
      charged = capacity;
      out.reserve(static_cast<size_t>(capacity));
    }
    out.append(data, size);
  });
  return out;
}

}  // namespace velmora
