// ServerModulePool: the process-wide pool of TServerModule1 instances that sessions borrow.
#pragma once

#include "host/uObjPoolMgr.h"

namespace velmora {

// Creates the pool with TServerModule1 as its class; does nothing when it exists. Called on the
// main thread before the server starts.
void CreateServerModulePool();
// Destroys the pool and every instance it made; does nothing when it does not exist. Called after
// the server has stopped and before the database pools are destroyed.
void DestroyServerModulePool();
// The pool; nullptr before CreateServerModulePool and after DestroyServerModulePool.
TPoolManager* ServerModulePool();

}  // namespace velmora
