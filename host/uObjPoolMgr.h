// TPoolManager: a pool of instances of one class. Instances are made on demand, handed out
// earliest-made free first, given back instead of destroyed, and destroyed only with the pool.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "common/persistent.h"

namespace velmora {

class TPoolManager {
 public:
  TPoolManager() = default;
  // Destroys every instance, in use or not, first to last.
  ~TPoolManager();
  TPoolManager(const TPoolManager&) = delete;
  TPoolManager& operator=(const TPoolManager&) = delete;

  const TPersistentClass& InstanceClass() const { return FInstanceClass; }
  void SetInstanceClass(TPersistentClass value) { FInstanceClass = std::move(value); }

  // A free instance, or a new one; marked in use. Raises "Not specify class of instance!" when a
  // new instance is needed and no class is set; never returns nullptr.
  TPersistent* LockPoolObject();
  // Marks Value free again; a value the pool does not hold is ignored.
  void UnlockPoolObject(const TPersistent* Value);

  // For the operator and tests: how many instances exist, and whether the i-th is in use.
  size_t Count();
  bool InUse(size_t index);
  TPersistent* Instance(size_t index);

 private:
  struct Entry {
    std::unique_ptr<TPersistent> instance;
    bool in_use = false;
  };

  TPersistent* CreateInstance();

  std::recursive_mutex FCriticalSection;
  std::vector<Entry> FServerObjects;
  TPersistentClass FInstanceClass;
};

}  // namespace velmora
