#include "host/server_module_pool.h"

#include <memory>

#include "services/uServerModule.h"

namespace velmora {
namespace {

std::unique_ptr<TPoolManager>& PoolSlot() {
  static std::unique_ptr<TPoolManager> pool;
  return pool;
}

}  // namespace

void CreateServerModulePool() {
  auto& pool = PoolSlot();
  if (pool != nullptr) return;
  pool = std::make_unique<TPoolManager>();
  pool->SetInstanceClass(TPersistentClass::Of<TServerModule1>("TServerModule1"));
}

void DestroyServerModulePool() {
  PoolSlot().reset();
}

TPoolManager* ServerModulePool() {
  return PoolSlot().get();
}

}  // namespace velmora
