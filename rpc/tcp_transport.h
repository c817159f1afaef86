// TDSTCPServerTransport: the TCP listener of the remote-method layer. Every accepted connection
// gets a thread of its own, which runs its connect event, login, calls (one at a time) and
// disconnect event, and ends with it; no idle thread is kept.
//
// Every client is held to the limits in force when the server starts (common/server_limits.h):
// - Connections: at most MaxConnections at once, and at most MaxUnauthenticatedPerAddress from
//   one address that have not logged in. A connection over a cap, or one whose thread cannot be
//   made, gets one error message and is closed; the listener goes on.
// - Deadlines: the hello within HelloTimeout of accept; each frame, once its first byte has come,
//   within FrameTimeout plus FrameSecondsPerMiB per MiB of its size (replies too, while the client
//   reads them); a logged-in connection without a call for IdleTimeout is closed. A connection
//   that misses a deadline is closed without an answer.
// - Before login only plain frames of at most PreLoginFrameMax bytes. After it, a frame's bytes,
//   and its inflated message, are reserved from the memory budget as they arrive; over the budget
//   the call is answered with the budget's error and the connection goes on.
// - Login happens once; after RefusalsPerConnection refused hellos the connection is closed, and
//   an address refused RefusalsPerMinutePerAddress times within a minute has each further hello
//   answered only after a delay (rpc/login_throttle.h).
// - A call learns that its client went away, or that the server is stopping, through the stop
//   token of the call (common/call_stop.h); the token is stopped by the transport's watchdog
//   thread when the client hangs up, and by Stop when the drain time is over.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/service_defaults.h"
#include "rpc/auth_manager.h"
#include "rpc/frame_codec.h"
#include "rpc/session.h"

namespace velmora {

class TIdTCPConnection;  // one accepted connection; its address is its identity

// A stop takes at most kMaxDrain of drain, whatever DrainTimeout says, plus kStopGrace for the
// connection threads to end: 14 s in all, so a stopping process ends within 15 s.
inline constexpr std::chrono::seconds kMaxDrain{12};
inline constexpr std::chrono::seconds kStopGrace{2};

struct TDSClientInfo {
  std::string IpAddress;
  std::string ClientPort;  // decimal
};

struct TDSChannelInfo {
  int Id = 0;  // the socket's handle: unique among open connections, reused later
  TDSClientInfo ClientInfo;
};

class TDSTCPChannel {
 public:
  TDSChannelInfo ChannelInfo;
};

struct TDSTCPConnectEventObject {
  TIdTCPConnection* Connection = nullptr;
  TDSTCPChannel* Channel = nullptr;  // valid until the connection's disconnect event has run
};

struct TDSTCPDisconnectEventObject {
  TIdTCPConnection* Connection = nullptr;
};

// TLS on the wire: off unless a certificate is given. With it, every connection starts with a
// TLS handshake (TLS 1.2 or later), which must end within the hello's deadline; the protocol then
// runs inside TLS unchanged. Refusals made before the handshake (the connection caps) and the
// stop's answer to an unfinished call are not sent on a TLS connection: it is only closed.
struct TDSTlsServerSettings {
  std::string CertificateFile;  // PEM, the server's certificate and any chain after it
  std::string PrivateKeyFile;   // PEM, unencrypted
  bool Enabled() const { return !CertificateFile.empty(); }
};

class TDSTCPServerTransport {
 public:
  TDSTCPServerTransport();
  ~TDSTCPServerTransport();  // stops
  TDSTCPServerTransport(const TDSTCPServerTransport&) = delete;
  TDSTCPServerTransport& operator=(const TDSTCPServerTransport&) = delete;

  // Settings, read when the server starts.
  uint16_t Port = kDefaultServicePort;  // 0 picks a free port; see BoundPort
  std::string BindAddress;              // empty: every IPv4 interface
  uint32_t BufferKBSize = 512;          // socket send and receive buffers
  uint32_t CompressMoreThan = kDefaultCompressMoreThan;
  uint32_t MaxFrameSize = kDefaultMaxFrameSize;
  TDSAuthenticationManager* AuthenticationManager = nullptr;
  TDSTlsServerSettings Tls;  // read when the server starts; Start raises when they cannot be used
  // Starts a connection's thread; read when the server starts. Empty: std::thread. A test may
  // make it raise std::system_error, as a process at its thread limit does.
  std::function<std::thread(std::function<void()> body)> ThreadStarter;

  // Fire on the connection's thread, and only while the listener is active: connections closed
  // by Stop get no OnDisconnect. Exceptions raised in them are swallowed.
  std::function<void(const TDSTCPConnectEventObject& Event)> OnConnect;
  std::function<void(const TDSTCPDisconnectEventObject& Event)> OnDisconnect;

  bool Active() const;
  uint16_t BoundPort() const;      // the port listened on while active
  size_t ConnectionCount() const;  // connections whose threads have not ended
  // Connection threads that Stop left running because their call had not returned by the end of
  // the stop. They still use this transport and the server class: the owner must end the process
  // without destroying either (std::_Exit) when this is not 0.
  size_t AbandonedThreads() const;

 private:
  friend class TDSServer;
  // Raises EDSServerError naming the port when it cannot listen.
  void Start(const TDSSessionContext& context);
  // Drains and closes: stops accepting, closes the connections that are not in a call, lets the
  // calls running finish for at most DrainTimeout (each then sends its reply and is closed),
  // answers the calls still running with an error message, stops their stop tokens and closes
  // them. Returns when every connection thread has ended, or after kStopGrace more; threads still
  // running then are left behind (AbandonedThreads). So it returns within DrainTimeout (at most
  // kMaxDrain) plus kStopGrace. Holds no lock while it waits. Must not be called from an event
  // handler.
  void Stop();

  void AcceptLoop();
  void WatchLoop();
  void Serve(TIdTCPConnection& connection);
  template <class Stream>
  void ServeMessages(Stream& stream, TIdTCPConnection& connection, TDSSession& session);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
