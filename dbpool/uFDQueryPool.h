// TFDQueryPool: the pool of query objects. A new query is bare (no connection, no statement);
// a query given back is closed but keeps its statement text and connection link.
#pragma once

#include <cstddef>

#include "db/core/query.h"
#include "dbpool/object_pool.h"

namespace velmora {

class TFDQueryPool {
 public:
  // Makes nothing. `timeout_ms` is how long Lock waits for a permit; the server keeps the
  // default.
  explicit TFDQueryPool(int ACapicity, int timeout_ms = TObjectPool<TFDQuery>::kDefaultTimeout);
  // Destroys every query, handed out or idle, from the last index down.
  virtual ~TFDQueryPool() = default;
  TFDQueryPool(const TFDQueryPool&) = delete;
  TFDQueryPool& operator=(const TFDQueryPool&) = delete;

  // A query, or nullptr when the pool is full after the wait. Never raises.
  TFDQuery* Lock() { return FPool.Lock(); }
  // Gives a query back and closes it; the caller must not use it afterwards. One the pool does not
  // hold is ignored. If closing raises, the query is idle but its permit is not released.
  void UnLock(TFDQuery* Value) { FPool.Unlock(Value); }
  // Destroys the lowest-indexed idle query, if any.
  void FreeAndNil() { FPool.FreeAndNil(); }

  size_t Count() const { return FPool.Count(); }
  TFDQuery* Item(size_t index) const { return FPool.Item(index); }
  int TagOf(const TFDQuery* value) const { return FPool.TagOf(value); }
  int Permits() const { return FPool.Permits(); }

 private:
  TObjectPool<TFDQuery> FPool;
};

}  // namespace velmora
