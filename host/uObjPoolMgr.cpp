#include "host/uObjPoolMgr.h"

#include "common/server_metrics.h"
#include "common/velmora_error.h"

namespace velmora {

namespace {

metrics::PoolMetrics& Counted() {
  return metrics::Metrics().Pool(metrics::PoolKind::kServerModules);
}

}  // namespace

TPoolManager::~TPoolManager() {
  for (Entry& e : FServerObjects) {
    (e.in_use ? Counted().in_use : Counted().idle).Sub();
    e.instance.reset();
  }
}

TPersistent* TPoolManager::LockPoolObject() {
  {
    std::lock_guard lock(FCriticalSection);
    for (Entry& e : FServerObjects) {
      if (!e.in_use) {
        e.in_use = true;
        Counted().idle.Sub();
        Counted().in_use.Add();
        return e.instance.get();
      }
    }
  }
  // Another thread may give an instance back meanwhile; a new one is made all the same.
  return CreateInstance();
}

TPersistent* TPoolManager::CreateInstance() {
  if (FInstanceClass.Empty()) throw EVelmoraError("Not specify class of instance!");
  std::lock_guard lock(FCriticalSection);
  // Construction happens under the lock, so sessions starting or ending meanwhile wait for it.
  std::unique_ptr<TPersistent> instance = FInstanceClass.Construct();
  TPersistent* result = instance.get();
  FServerObjects.push_back(Entry{std::move(instance), true});
  Counted().in_use.Add();
  return result;
}

void TPoolManager::UnlockPoolObject(const TPersistent* Value) {
  std::lock_guard lock(FCriticalSection);
  for (Entry& e : FServerObjects) {
    if (e.instance.get() == Value) {
      if (e.in_use) {
        Counted().in_use.Sub();
        Counted().idle.Add();
      }
      e.in_use = false;
      return;
    }
  }
}

size_t TPoolManager::Count() {
  std::lock_guard lock(FCriticalSection);
  return FServerObjects.size();
}

bool TPoolManager::InUse(size_t index) {
  std::lock_guard lock(FCriticalSection);
  return FServerObjects.at(index).in_use;
}

TPersistent* TPoolManager::Instance(size_t index) {
  std::lock_guard lock(FCriticalSection);
  return FServerObjects.at(index).instance.get();
}

}  // namespace velmora
