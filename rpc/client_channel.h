// TDSClientChannel: the client side of the wire protocol. One channel is one connection and one
// login; it is used by one thread at a time and keeps its buffers and zlib state between calls.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rpc/frame_codec.h"
#include "variant/ole_variant.h"

namespace velmora {

struct TDSCallResult {
  OleVariant Result;             // Empty for a method without result
  std::vector<OleVariant> Outs;  // the out-parameters, in declaration order
};

// TLS for a client: when enabled, the connection starts with a TLS handshake; the server's
// certificate must be signed by the given CA (or one the system trusts when CaFile is empty) and
// name the host connected to.
struct TDSTlsClientSettings {
  bool Enabled = false;
  std::string CaFile;  // PEM; empty: the system's trusted certificates
};

class TDSClientChannel {
 public:
  explicit TDSClientChannel(uint32_t compress_more_than = kDefaultCompressMoreThan,
                            uint32_t max_frame_size = kDefaultMaxFrameSize);
  ~TDSClientChannel();
  TDSClientChannel(const TDSClientChannel&) = delete;
  TDSClientChannel& operator=(const TDSClientChannel&) = delete;

  TDSTlsClientSettings Tls;  // read by Connect

  // Opens the connection and logs in. Raises EDSLoginError with the server's refusal text,
  // EDSConnectionError when the server cannot be reached or breaks the protocol.
  void Connect(const std::string& host, uint16_t port, const std::string& user,
               const std::string& password, const std::string& protocol = "tcp/ip");
  // Calls a published method. Raises EDSRemoteError with the server's text when the call fails
  // (the channel stays usable), EDSConnectionError when the connection breaks (it is closed).
  void Call(std::string_view class_name, std::string_view method_name,
            std::span<const OleVariant> args, TDSCallResult& result);
  TDSCallResult Call(std::string_view class_name, std::string_view method_name,
                     std::span<const OleVariant> args);
  void Close();
  bool Connected() const;
  // The one member another thread may call, while this channel's own thread waits in Call: shuts
  // the connection down, so that the waiting call fails with EDSConnectionError (and closes the
  // channel) instead of waiting for the reply.
  void Interrupt();

 private:
  // Sends the frame in out_ and reads the answer into message.
  void RoundTrip(std::string_view& message, bool may_deflate = true);
  // Starts TLS on the connected socket; raises EDSConnectionError.
  void StartTls(const std::string& host, uint16_t port);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
