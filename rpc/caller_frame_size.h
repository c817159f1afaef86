// The largest frame of the connection whose call runs on this thread, so that a method sizes what
// it returns by the transport it answers through (a file download is refused before it is read
// when its packet could not fit in one reply frame).
//
// Thread rule: the transport opens a TCallerFrameSizeScope on a connection's thread for as long as
// it serves that connection; CallerMaxFrameSize() reads this thread's value only, and gives
// kDefaultMaxFrameSize on a thread that serves no connection (an in-process call).
#pragma once

#include <cstdint>

namespace velmora {

uint32_t CallerMaxFrameSize();

class TCallerFrameSizeScope {
 public:
  explicit TCallerFrameSizeScope(uint32_t max_frame_size);
  ~TCallerFrameSizeScope();
  TCallerFrameSizeScope(const TCallerFrameSizeScope&) = delete;
  TCallerFrameSizeScope& operator=(const TCallerFrameSizeScope&) = delete;

 private:
  uint32_t outer_;
};

}  // namespace velmora
