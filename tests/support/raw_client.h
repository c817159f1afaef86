// A client that writes its own frames, for messages TDSClientChannel would have to build whole in
// memory first (a bomb, a frame made in pieces): it logs in with a plain hello, then sends frames
// as given and returns each answer's message. Header only; a test using it links velmora_rpc.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "rpc/frame_codec.h"
#include "rpc/messages.h"

namespace velmora::test {

class RawClient {
 public:
  // Connects to 127.0.0.1:`port` and logs in; raises when the login is refused.
  RawClient(uint16_t port, const std::string& user, const std::string& password)
      : codec_(kDefaultCompressMoreThan, kDefaultMaxFrameSize) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
    std::string frame;
    TDSFrameCodec::Begin(frame);
    EncodeHello({kProtocolVersion, user, password, "tcp/ip"}, frame);
    HelloReplyMessage reply;
    DecodeHelloReply(RoundTrip(frame), reply);
    if (!reply.Accepted) throw std::runtime_error("login refused: " + reply.Text);
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // Seals `frame` (a message after TDSFrameCodec::Begin) and exchanges it.
  std::string RoundTrip(std::string& frame) {
    codec_.Seal(frame);
    return Exchange(frame);
  }

  // Sends a sealed frame as it is and returns the answer's message.
  std::string Exchange(std::string_view frame) {
    for (size_t sent = 0; sent < frame.size();) {
      const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) throw std::runtime_error("send failed");
      sent += static_cast<size_t>(n);
    }
    uint8_t header[kFrameHeaderSize];
    ReadExactly(header, sizeof header);
    const FrameHeader h = codec_.ParseHeader(header);
    std::string payload(h.length, '\0');
    ReadExactly(payload.data(), payload.size());
    return std::string(codec_.Unpack(h, payload));
  }

  // The text of an error answer; "(no error)" for any other message.
  static std::string ErrorText(std::string_view answer) {
    if (PeekMessageType(answer) != static_cast<uint8_t>(TDSMessageType::Error)) return "(no error)";
    std::string text;
    DecodeError(answer, text);
    return text;
  }

 private:
  void ReadExactly(void* into, size_t size) {
    auto* p = static_cast<char*>(into);
    while (size > 0) {
      const ssize_t n = ::recv(fd_, p, size, 0);
      if (n <= 0) throw std::runtime_error("connection closed");
      p += n;
      size -= static_cast<size_t>(n);
    }
  }

  int fd_ = -1;
  TDSFrameCodec codec_;
};

}  // namespace velmora::test
