// TDSServer: ties the TCP transport to the published server class and starts and stops the
// service.
#pragma once

#include "rpc/server_class.h"
#include "rpc/tcp_transport.h"

namespace velmora {

class TDSServer {
 public:
  bool AutoStart = false;  // kept for the settings' sake; the owner calls Start
  TDSTCPServerTransport* Transport = nullptr;
  TDSServerClass* ServerClass = nullptr;

  // Asks the server class for its class, then opens the transport. Raises EDSServerError when a
  // part is missing or the port cannot be listened on. Does nothing when started.
  void Start();
  // Drains and closes every connection (without disconnect events): see
  // TDSTCPServerTransport::Stop for the drain and its time bound. Does nothing when stopped.
  void Stop();
  bool Started() const;
};

}  // namespace velmora
