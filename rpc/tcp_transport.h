// TDSTCPServerTransport: the TCP listener of the remote-method layer. Every accepted connection
// gets a thread of its own, which runs its connect event, login, calls (one at a time) and
// disconnect event, and ends with it; no idle thread is kept.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/service_defaults.h"
#include "rpc/auth_manager.h"
#include "rpc/frame_codec.h"
#include "rpc/session.h"

namespace velmora {

class TIdTCPConnection;  // one accepted connection; its address is its identity

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

class TDSTCPServerTransport {
 public:
  TDSTCPServerTransport();
  ~TDSTCPServerTransport();  // stops
  TDSTCPServerTransport(const TDSTCPServerTransport&) = delete;
  TDSTCPServerTransport& operator=(const TDSTCPServerTransport&) = delete;

  // Settings, read when the server starts.
  uint16_t Port = kDefaultServicePort;  // 0 picks a free port; see BoundPort
  std::string BindAddress;        // empty: every IPv4 interface
  uint32_t BufferKBSize = 512;    // socket send and receive buffers
  uint32_t CompressMoreThan = kDefaultCompressMoreThan;
  uint32_t MaxFrameSize = kDefaultMaxFrameSize;
  TDSAuthenticationManager* AuthenticationManager = nullptr;

  // Fire on the connection's thread, and only while the listener is active: connections closed
  // by Stop get no OnDisconnect. Exceptions raised in them are swallowed.
  std::function<void(const TDSTCPConnectEventObject& Event)> OnConnect;
  std::function<void(const TDSTCPDisconnectEventObject& Event)> OnDisconnect;

  bool Active() const;
  uint16_t BoundPort() const;      // the port listened on while active
  size_t ConnectionCount() const;  // connections whose threads have not ended

 private:
  friend class TDSServer;
  // Raises EDSServerError naming the port when it cannot listen.
  void Start(const TDSSessionContext& context);
  // Closes the listener and every connection and returns when their threads have ended. Holds
  // no lock while it waits. Must not be called from an event handler.
  void Stop();

  void AcceptLoop();
  void Serve(TIdTCPConnection& connection);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
