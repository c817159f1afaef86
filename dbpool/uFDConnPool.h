// TFDConnectionPool: the pool of open database connections. Each new connection takes its
// parameters from AppPath() + "DataBase.CFG", read afresh when it is opened; idle connections stay
// open and are reused, lowest index first.
#pragma once

#include <cstddef>

#include "db/connection.h"
#include "dbpool/object_pool.h"

namespace velmora {

class TFDConnectionPool {
 public:
  // Opens nothing. `timeout_ms` is how long Lock waits for a permit; the server keeps the
  // default.
  explicit TFDConnectionPool(int ACapicity,
                             int timeout_ms = TObjectPool<TFDConnection>::kDefaultTimeout);
  // Destroys every connection, handed out or idle, from the last index down.
  virtual ~TFDConnectionPool() = default;
  TFDConnectionPool(const TFDConnectionPool&) = delete;
  TFDConnectionPool& operator=(const TFDConnectionPool&) = delete;

  // An open connection, or nullptr when none can be had (pool full after the wait, or the
  // database cannot be reached). Never raises.
  TFDConnection* Lock() { return FPool.Lock(); }
  // Gives a connection back; it stays open. One the pool does not hold is ignored.
  void Unlock(TFDConnection* Value) { FPool.Unlock(Value); }
  // Destroys the lowest-indexed idle connection, if any; its datasets are detached.
  void FreeAndNil() { FPool.FreeAndNil(); }

  size_t Count() const { return FPool.Count(); }
  TFDConnection* Item(size_t index) const { return FPool.Item(index); }
  int TagOf(const TFDConnection* value) const { return FPool.TagOf(value); }
  int Permits() const { return FPool.Permits(); }

 private:
  TObjectPool<TFDConnection> FPool;
};

}  // namespace velmora
