#include "rpc/ds_server.h"

#include <fmt/format.h>

#include "rpc/rpc_errors.h"

namespace velmora {

void TDSServer::Start() {
  if (Started()) return;
  if (Transport == nullptr) throw EDSServerError("The server has no transport");
  if (ServerClass == nullptr) throw EDSServerError("The server has no server class");
  if (ServerClass->LifeCycle != "Session") {
    throw EDSServerError(fmt::format("Life cycle {} is not supported", ServerClass->LifeCycle));
  }
  const TDSMethodTable* methods = nullptr;
  if (ServerClass->OnGetClass) ServerClass->OnGetClass(*ServerClass, methods);
  if (methods == nullptr) throw EDSServerError("The server class supplied no class");
  Transport->Start(TDSSessionContext{ServerClass, methods, Transport->AuthenticationManager});
}

void TDSServer::Stop() {
  if (Transport != nullptr) Transport->Stop();
}

bool TDSServer::Started() const {
  return Transport != nullptr && Transport->Active();
}

}  // namespace velmora
