// TServerHost: the remote-method components of the server, wired together, without any window.
// The owner sets the transport's OnConnect/OnDisconnect and the authentication manager's
// handlers, creates the database pools and ServerModulePool, then calls Start.
#pragma once

#include <cstdint>

#include "rpc/auth_manager.h"
#include "rpc/ds_server.h"
#include "rpc/server_class.h"
#include "rpc/tcp_transport.h"

namespace velmora {

class TServerHost {
 public:
  TServerHost();
  ~TServerHost();  // stops
  TServerHost(const TServerHost&) = delete;
  TServerHost& operator=(const TServerHost&) = delete;

  // Sets the port (0 picks a free one) and starts the server. Raises EDSServerError when the port
  // cannot be listened on. Does nothing when started.
  void Start(uint16_t port);
  // Closes every connection without disconnect events; their instances go back to the pool.
  void Stop();
  bool Started() const { return DSServer1.Started(); }
  // The port listened on while started.
  uint16_t BoundPort() const { return DSTCPServerTransport1.BoundPort(); }

  // The handlers of DSServerClass1: the published class is TServerModule1; sessions borrow
  // their instance from ServerModulePool() and give it back when their connection closes.
  void DSServerClass1GetClass(TDSServerClass& Sender, const TDSMethodTable*& PersistentClass);
  void DSServerClass1CreateInstance(TDSCreateInstanceEventObject& Event);
  void DSServerClass1DestroyInstance(TDSDestroyInstanceEventObject& Event);

  TDSServer DSServer1;
  TDSTCPServerTransport DSTCPServerTransport1;
  TDSServerClass DSServerClass1;
  TDSAuthenticationManager DSAuthenticationManager1;
};

}  // namespace velmora
