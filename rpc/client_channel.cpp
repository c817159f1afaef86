#include "rpc/client_channel.h"

#include <fmt/format.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <mutex>

#include "rpc/frame_io.h"
#include "rpc/messages.h"
#include "rpc/rpc_errors.h"

namespace velmora {

struct TDSClientChannel::Impl {
  Impl(uint32_t compress_more_than, uint32_t max_frame_size)
      : socket(io), codec(compress_more_than, max_frame_size) {}
  asio::io_context io;
  asio::ip::tcp::socket socket;
  std::unique_ptr<asio::ssl::context> tls_context;
  std::unique_ptr<asio::ssl::stream<asio::ip::tcp::socket&>> tls;  // set while TLS is on
  TDSFrameCodec codec;
  std::string in, out;
  std::string error_text;
  ReplyMessage reply;
  HelloReplyMessage hello_reply;
  std::mutex closing;  // Close against Interrupt from another thread
};

TDSClientChannel::TDSClientChannel(uint32_t compress_more_than, uint32_t max_frame_size)
    : impl_(std::make_unique<Impl>(compress_more_than, max_frame_size)) {}

TDSClientChannel::~TDSClientChannel() = default;

bool TDSClientChannel::Connected() const {
  return impl_->socket.is_open();
}

void TDSClientChannel::Close() {
  const std::lock_guard lock(impl_->closing);
  impl_->tls.reset();
  asio::error_code ec;
  impl_->socket.shutdown(asio::socket_base::shutdown_both, ec);
  impl_->socket.close(ec);
}

void TDSClientChannel::Interrupt() {
  // The descriptor is shut down, not closed: the waiting thread still owns it and closes it when
  // its read fails, so the number cannot be reused under it.
  const std::lock_guard lock(impl_->closing);
  if (impl_->socket.is_open()) ::shutdown(impl_->socket.native_handle(), SHUT_RDWR);
}

void TDSClientChannel::Connect(const std::string& host, uint16_t port, const std::string& user,
                               const std::string& password, const std::string& protocol) {
  Impl& s = *impl_;
  Close();
  asio::error_code ec;
  asio::ip::tcp::resolver resolver(s.io);
  const auto endpoints = resolver.resolve(host, std::to_string(port), ec);
  if (!ec) asio::connect(s.socket, endpoints, ec);
  if (ec) {
    Close();
    throw EDSConnectionError(fmt::format("Cannot connect to {}:{}: {}", host, port, ec.message()));
  }
  s.socket.set_option(asio::ip::tcp::no_delay(true), ec);
  if (Tls.Enabled) StartTls(host, port);

  TDSFrameCodec::Begin(s.out);
  EncodeHello(HelloMessage{kProtocolVersion, user, password, protocol}, s.out);
  std::string_view message;
  RoundTrip(message, /*may_deflate=*/false);  // the server takes only plain frames before login
  try {
    if (PeekMessageType(message) == static_cast<uint8_t>(TDSMessageType::Error)) {
      DecodeError(message, s.error_text);
      Close();
      throw EDSLoginError(s.error_text);
    }
    DecodeHelloReply(message, s.hello_reply);
  } catch (const EDSProtocolError& e) {
    Close();
    throw EDSConnectionError(e.what());
  }
  if (!s.hello_reply.Accepted) {
    Close();
    throw EDSLoginError(s.hello_reply.Text);
  }
}

void TDSClientChannel::Call(std::string_view class_name, std::string_view method_name,
                            std::span<const OleVariant> args, TDSCallResult& result) {
  Impl& s = *impl_;
  if (!Connected()) throw EDSConnectionError("The channel is not connected");
  TDSFrameCodec::Begin(s.out);
  EncodeCall(class_name, method_name, args, s.out);
  // A call whose bulk is a data packet (an upload) goes plain, like the server's packet replies.
  const size_t message_size = s.out.size() - kFrameHeaderSize;
  const bool packet = std::any_of(
      args.begin(), args.end(), [&](const OleVariant& a) { return IsPacketBulk(a, message_size); });
  std::string_view message;
  RoundTrip(message, !packet);
  try {
    if (PeekMessageType(message) == static_cast<uint8_t>(TDSMessageType::Error)) {
      DecodeError(message, s.error_text);
      throw EDSRemoteError(s.error_text);
    }
    DecodeReply(message, s.reply);
  } catch (const EDSProtocolError& e) {
    Close();
    throw EDSConnectionError(e.what());
  }
  result.Result = std::move(s.reply.Result);
  result.Outs.swap(s.reply.Outs);
}

TDSCallResult TDSClientChannel::Call(std::string_view class_name, std::string_view method_name,
                                     std::span<const OleVariant> args) {
  TDSCallResult result;
  Call(class_name, method_name, args, result);
  return result;
}

void TDSClientChannel::RoundTrip(std::string_view& message, bool may_deflate) {
  Impl& s = *impl_;
  // The last answer has been used by now: its inflated bytes and their reservation go.
  s.codec.Trim();
  s.codec.Seal(s.out,
               may_deflate);  // a message over the maximum raises here, before anything is sent
  try {
    const bool ok =
        s.tls ? WriteFrame(*s.tls, s.out) && ReadFrame(*s.tls, s.codec, s.in, message)
              : WriteFrame(s.socket, s.out) && ReadFrame(s.socket, s.codec, s.in, message);
    if (!ok) throw EDSConnectionError("Connection closed by the server");
  } catch (const EDSConnectionError&) {
    Close();
    throw;
  } catch (const EDSProtocolError& e) {
    Close();
    throw EDSConnectionError(e.what());
  }
}

void TDSClientChannel::StartTls(const std::string& host, uint16_t port) {
  Impl& s = *impl_;
  asio::error_code ec;
  s.tls_context = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client);
  s.tls_context->set_options(asio::ssl::context::default_workarounds |
                             asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3 |
                             asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
  if (Tls.CaFile.empty()) {
    s.tls_context->set_default_verify_paths(ec);
  } else {
    s.tls_context->load_verify_file(Tls.CaFile, ec);
  }
  if (ec) {
    Close();
    throw EDSConnectionError(fmt::format("Cannot load the trusted certificates {}: {}",
                                         Tls.CaFile.empty() ? "of the system" : Tls.CaFile,
                                         ec.message()));
  }
  s.tls_context->set_verify_mode(asio::ssl::verify_peer);
  s.tls = std::make_unique<asio::ssl::stream<asio::ip::tcp::socket&>>(s.socket, *s.tls_context);
  s.tls->set_verify_callback(asio::ssl::host_name_verification(host));
  SSL_set_tlsext_host_name(s.tls->native_handle(),
                           host.c_str());  // the name the server is asked for
  s.tls->handshake(asio::ssl::stream_base::client, ec);
  if (ec) {
    Close();
    throw EDSConnectionError(
        fmt::format("TLS handshake with {}:{} failed: {}", host, port, ec.message()));
  }
}

}  // namespace velmora
