// Reading and writing whole frames on a blocking Asio socket. The client channel reads with
// ReadFrame; the server's connections read with their own deadlines and limits
// (rpc/tcp_transport.cpp) and write with WriteFrame.
#pragma once

#include <algorithm>
#include <asio.hpp>
#include <cstdint>
#include <string>
#include <string_view>

#include "rpc/frame_codec.h"
#include "rpc/rpc_errors.h"

namespace velmora {

// The first read of a frame takes whatever has come, up to this much, so that the header and a
// small message arrive in one system call.
inline constexpr size_t kFrameFirstRead = 16 * 1024;

// Reads one frame into `buffer` and sets `message` to its message bytes. Returns false at the end
// of the stream or on a socket error; raises EDSProtocolError for a frame that breaks the
// protocol. The buffer grows with the bytes that actually arrive, not with the length a header
// claims. For a peer that only answers (the client's side of a call): bytes past the frame's end
// are a broken protocol, since nothing may follow a reply before the next call is sent.
template <class Socket>
bool ReadFrame(Socket& socket, TDSFrameCodec& codec, std::string& buffer,
               std::string_view& message) {
  asio::error_code ec;
  buffer.resize(kFrameFirstRead);
  size_t got = socket.read_some(asio::buffer(buffer.data(), buffer.size()), ec);
  if (ec) return false;
  if (got < kFrameHeaderSize) {
    asio::read(socket, asio::buffer(buffer.data() + got, kFrameHeaderSize - got), ec);
    if (ec) return false;
    got = kFrameHeaderSize;
  }
  const FrameHeader h = codec.ParseHeader(reinterpret_cast<const uint8_t*>(buffer.data()));
  if (got - kFrameHeaderSize > h.length) {
    throw EDSProtocolError("The server sent bytes after its reply");
  }
  buffer.resize(got);
  buffer.erase(0, kFrameHeaderSize);
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
