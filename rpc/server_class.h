// TDSServerClass: the class whose published methods clients call, with its life cycle "Session":
// a session asks for an instance at its first call and hands it back when its connection closes.
#pragma once

#include <functional>
#include <string>

#include "rpc/method_table.h"
#include "rpc/server_module_base.h"

namespace velmora {

class TDSServerClass;

struct TDSCreateInstanceEventObject {
  TDSServerClass* ServerClass = nullptr;
  // Set by the handler; the layer uses it and never destroys it.
  TDSServerModuleBase* ServerClassInstance = nullptr;
};

struct TDSDestroyInstanceEventObject {
  TDSServerClass* ServerClass = nullptr;
  TDSServerModuleBase* ServerClassInstance = nullptr;
};

class TDSServerClass {
 public:
  // The only life cycle the layer supports.
  std::string LifeCycle = "Session";

  // Supplies the published class: its method table. Asked once, when the server starts.
  std::function<void(TDSServerClass& Sender, const TDSMethodTable*& PersistentClass)> OnGetClass;
  // At a session's first call, on the connection's thread. Raising fails that call.
  std::function<void(TDSCreateInstanceEventObject& Event)> OnCreateInstance;
  // When the session's connection closes, after OnDisconnect. Exceptions are swallowed.
  std::function<void(TDSDestroyInstanceEventObject& Event)> OnDestroyInstance;
};

}  // namespace velmora
