#include "host/server_host.h"

#include <stdexcept>

#include "common/service_defaults.h"
#include "host/server_module_pool.h"
#include "services/uServerModule.h"

namespace velmora {

TServerHost::TServerHost() {
  DSServer1.AutoStart = false;
  DSServer1.Transport = &DSTCPServerTransport1;
  DSServer1.ServerClass = &DSServerClass1;
  DSTCPServerTransport1.Port = kDefaultServicePort;
  DSTCPServerTransport1.BufferKBSize = 512;
  DSTCPServerTransport1.CompressMoreThan = kDefaultCompressMoreThan;
  DSTCPServerTransport1.AuthenticationManager = &DSAuthenticationManager1;
  DSServerClass1.OnGetClass = [this](TDSServerClass& Sender,
                                     const TDSMethodTable*& PersistentClass) {
    DSServerClass1GetClass(Sender, PersistentClass);
  };
  DSServerClass1.OnCreateInstance = [this](TDSCreateInstanceEventObject& Event) {
    DSServerClass1CreateInstance(Event);
  };
  DSServerClass1.OnDestroyInstance = [this](TDSDestroyInstanceEventObject& Event) {
    DSServerClass1DestroyInstance(Event);
  };
}

TServerHost::~TServerHost() {
  Stop();
}

void TServerHost::Start(uint16_t port) {
  if (DSServer1.Started()) return;
  DSTCPServerTransport1.Port = port;
  DSServer1.Start();
}

void TServerHost::Stop() {
  DSServer1.Stop();
}

void TServerHost::DSServerClass1GetClass(TDSServerClass& /*Sender*/,
                                         const TDSMethodTable*& PersistentClass) {
  PersistentClass = &TServerModule1::Methods();
}

void TServerHost::DSServerClass1CreateInstance(TDSCreateInstanceEventObject& Event) {
  TPoolManager* pool = ServerModulePool();
  if (pool == nullptr) throw std::logic_error("The server module pool does not exist");
  TPersistent* instance = pool->LockPoolObject();
  auto* module = dynamic_cast<TServerModule1*>(instance);
  if (module == nullptr) {
    pool->UnlockPoolObject(instance);
    throw std::logic_error("The server module pool does not hold TServerModule1 instances");
  }
  Event.ServerClassInstance = module;
}

void TServerHost::DSServerClass1DestroyInstance(TDSDestroyInstanceEventObject& Event) {
  TPoolManager* pool = ServerModulePool();
  auto* module = dynamic_cast<TServerModule1*>(Event.ServerClassInstance);
  if (pool != nullptr && module != nullptr) pool->UnlockPoolObject(module);
}

}  // namespace velmora
