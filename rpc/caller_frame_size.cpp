#include "rpc/caller_frame_size.h"

#include "rpc/frame_codec.h"

namespace velmora {
namespace {

thread_local uint32_t t_max_frame_size = kDefaultMaxFrameSize;

}  // namespace

uint32_t CallerMaxFrameSize() {
  return t_max_frame_size;
}

TCallerFrameSizeScope::TCallerFrameSizeScope(uint32_t max_frame_size) : outer_(t_max_frame_size) {
  t_max_frame_size = max_frame_size;
}

TCallerFrameSizeScope::~TCallerFrameSizeScope() {
  t_max_frame_size = outer_;
}

}  // namespace velmora
