// TFDStoredProcPool: the pool of stored-procedure objects. A new one is bare (no connection, no
// procedure name); one given back is closed but keeps its procedure name, parameters and
// connection link.
#pragma once

#include <cstddef>

#include "db/core/stored_proc.h"
#include "dbpool/object_pool.h"

namespace velmora {

class TFDStoredProcPool {
 public:
  // Makes nothing. `timeout_ms` is how long Lock waits for a permit; the server keeps the
  // default.
  explicit TFDStoredProcPool(int ACapicity,
                             int timeout_ms = TObjectPool<TFDStoredProc>::kDefaultTimeout);
  // Destroys every object, handed out or idle, from the last index down.
  virtual ~TFDStoredProcPool() = default;
  TFDStoredProcPool(const TFDStoredProcPool&) = delete;
  TFDStoredProcPool& operator=(const TFDStoredProcPool&) = delete;

  // An object, or nullptr when the pool is full after the wait. Never raises.
  TFDStoredProc* Lock() { return FPool.Lock(); }
  // Gives an object back and closes it; the caller must not use it afterwards. One the pool does
  // not hold is ignored. If closing raises, the object is idle but its permit is not released.
  void UnLock(TFDStoredProc* Value) { FPool.Unlock(Value); }
  // Destroys the lowest-indexed idle object, if any.
  void FreeAndNil() { FPool.FreeAndNil(); }

  size_t Count() const { return FPool.Count(); }
  TFDStoredProc* Item(size_t index) const { return FPool.Item(index); }
  int TagOf(const TFDStoredProc* value) const { return FPool.TagOf(value); }
  int Permits() const { return FPool.Permits(); }

 private:
  TObjectPool<TFDStoredProc> FPool;
};

}  // namespace velmora
