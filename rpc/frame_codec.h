// Framing and the zlib filter of the wire protocol (docs/protocol.md).
//
// A frame is a 5-byte header (u32 length of what follows, u8 flags) and a payload. A message
// larger than the compression threshold is deflated, and sent deflated only when that makes it
// smaller; above 64 KiB only when a 16 KiB sample of its start shrinks by at least 1/64. Each
// codec keeps one deflate and one inflate state and its scratch buffers for the life of its
// connection and resets them per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/memory_budget.h"

namespace velmora {

inline constexpr size_t kFrameHeaderSize = 5;
inline constexpr uint8_t kFrameDeflated = 0x01;
inline constexpr uint32_t kDefaultCompressMoreThan = 1024;
inline constexpr uint32_t kDefaultMaxFrameSize = 256u << 20;

struct FrameHeader {
  uint32_t length = 0;  // payload bytes after the header
  uint8_t flags = 0;
};

class TDSFrameCodec {
 public:
  TDSFrameCodec(uint32_t compress_more_than, uint32_t max_frame_size);
  ~TDSFrameCodec();
  TDSFrameCodec(const TDSFrameCodec&) = delete;
  TDSFrameCodec& operator=(const TDSFrameCodec&) = delete;

  // Starts a frame in `frame`: clears it and reserves room for the header. Append the message
  // after it, then call Seal.
  static void Begin(std::string& frame);
  // Fills in the header, deflating the message first when that pays and `may_deflate` (a hello
  // must go plain). Raises EDSProtocolError when the message is larger than the maximum frame
  // size.
  void Seal(std::string& frame, bool may_deflate = true);

  // Checks a received header. Raises EDSProtocolError for unknown flags or a frame above the
  // maximum, before any payload is read.
  FrameHeader ParseHeader(const uint8_t* header) const;
  // The message carried by a payload: the payload itself, or its inflated bytes (valid until the
  // next call or Trim). Raises EDSProtocolError for a corrupt or oversized deflated payload, and
  // EMemoryBudgetExceeded, before anything is inflated, when the size the payload claims does not
  // fit in the process's memory budget; that size stays reserved until Trim.
  std::string_view Unpack(const FrameHeader& header, std::string_view payload);

  // Releases scratch memory kept from an unusually large frame and the inflated message's
  // reservation; call it once the message has been handled.
  void Trim();

  uint32_t MaxFrameSize() const { return max_frame_size_; }

 private:
  // Whether a sample of a large message compresses enough to deflate it all.
  bool Worthwhile(std::string& frame);

  struct ZState;
  uint32_t compress_more_than_;
  uint32_t max_frame_size_;
  std::unique_ptr<ZState> z_;  // made at the first frame that needs zlib
  std::string scratch_;
  std::string inflated_;                 // the last inflated message
  MemoryReservation inflated_reserved_;  // covers inflated_ while it is in use
};

}  // namespace velmora
