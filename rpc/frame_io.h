// Reading and writing whole frames on a blocking Asio socket; shared by the server's connection
// threads and the client channel.
#pragma once

#include <algorithm>
#include <asio.hpp>
#include <cstdint>
#include <string>
#include <string_view>

#include "rpc/frame_codec.h"

namespace velmora {

// Reads one frame into `buffer` and sets `message` to its message bytes. Returns false at the end
// of the stream or on a socket error; raises EDSProtocolError for a frame that breaks the
// protocol. The buffer grows with the bytes that actually arrive, not with the length a header
// claims.
template <class Socket>
bool ReadFrame(Socket& socket, TDSFrameCodec& codec, std::string& buffer,
               std::string_view& message) {
  uint8_t header[kFrameHeaderSize];
  asio::error_code ec;
  asio::read(socket, asio::buffer(header), ec);
  if (ec) return false;
  const FrameHeader h = codec.ParseHeader(header);
  buffer.clear();
  while (buffer.size() < h.length) {
    const size_t have = buffer.size();
    const size_t chunk = std::min<size_t>(h.length - have, std::max<size_t>(have, 64 * 1024));
    buffer.resize(have + chunk);
    asio::read(socket, asio::buffer(buffer.data() + have, chunk), ec);
    if (ec) return false;
  }
  message = codec.Unpack(h, buffer);
  return true;
}

template <class Socket>
bool WriteFrame(Socket& socket, const std::string& frame) {
  asio::error_code ec;
  asio::write(socket, asio::buffer(frame), ec);
  return !ec;
}

}  // namespace velmora
