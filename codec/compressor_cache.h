// The whole-buffer compressors that packets are deflated with (libdeflate), shared by every thread
// of the process. A compressor at the default level holds about 650 KB of state, more than most
// packets; making one for every packet costs an allocation and its page faults, and keeping one
// for every thread that ever compressed costs that much for each connection thread, a thousand
// threads holding 650 MB. So a compressor is leased for one packet and given back: the cache keeps
// at most IdleCompressorsKept() idle compressors of each level and frees the rest, and the
// compressors alive at any time are those in use plus those idle.
//
// Thread rules: a lease belongs to the thread that took it and is used by that thread only; taking
// and giving back may happen on any number of threads at once (one short lock each).
#pragma once

#include <cstddef>
#include <memory>

struct libdeflate_compressor;

namespace velmora {

// Output buffers up to this size come with the lease; larger packets need one of their own.
inline constexpr size_t kLeasedOutputBuffer = 64 * 1024;

// Idle compressors kept for each level: one per hardware thread, and at least two.
size_t IdleCompressorsKept();

// Compressors alive now (leased and idle, all levels), for tests and diagnostics.
size_t CompressorsAlive();

class TCompressorLease {
 public:
  // A compressor at libdeflate `level` (0 to 12): an idle one of that level, else a new one.
  // Raises std::bad_alloc when none can be made.
  explicit TCompressorLease(int level);
  ~TCompressorLease();  // gives the compressor back (or frees it when enough are idle)
  TCompressorLease(const TCompressorLease&) = delete;
  TCompressorLease& operator=(const TCompressorLease&) = delete;

  libdeflate_compressor& Compressor() const;
  // kLeasedOutputBuffer bytes, not initialised, made at the first call and kept with the
  // compressor.
  char* OutputBuffer();

  struct Entry;

 private:
  int level_;
  std::unique_ptr<Entry> entry_;
};

}  // namespace velmora
