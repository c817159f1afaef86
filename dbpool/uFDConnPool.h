// TFDConnectionPool: the pool of open database connections. Each new connection takes its
// parameters from AppPath() + "DataBase.CFG", read afresh when it is opened; idle connections stay
// open and are reused, lowest index first.
//
// Deliberate changes to the pool's first rules (see dbpool/object_pool.h for the mechanism):
// - A new connection is opened outside the list's lock, so a slow or locked database holds up only
//   the caller that opens it; the others still take and give back idle connections. A call waits
//   at most the permit wait (3 s) plus its own open, which the driver bounds (SQLite: its busy
//   time-out).
// - Discard on give-back. A connection never goes back to the pool inside a transaction: what a
//   caller left open is rolled back at give-back. A connection is dropped instead of kept, and
//   its permit released as a give-back releases it, when:
//     * its user marked it broken (TFDConnection::MarkBroken) or called Discard;
//     * the rollback of what a caller left open fails;
//     * the driver reports it unusable: the engine said the database is lost or damaged, or the
//       database file was deleted or replaced since the connection opened it (for SQLite: the
//       path no longer names the device and inode the connection opened).
//   The file is looked at when an idle connection is about to be handed out (one stat per call);
//   a connection failing the checks there is dropped and the hand-out goes on to the next idle
//   connection or opens a new one.
// - What a client sees when the database file is deleted or replaced under a running server: a
//   write already running on a connection to the old file fails ("The database file was deleted
//   or replaced since this connection opened it: <path>") instead of being acknowledged; from the
//   next call on, the stale connections are dropped and new ones open the file now at the path (or
//   fail with the driver's own message when there is none and DataBase.CFG does not say to
//   create it). Reads already running may still finish on the old file.
// - A connection given back goes back to the default statement time-out with no interrupt raised.
// - A connection given back has its session reset to the state it was opened in when a caller
//   may have changed it (settings, temporary objects ...: TFDConnection::RestoreSession); one that
//   cannot be reset in place, or whose reset fails, is dropped as above.
#pragma once

#include <cstddef>
#include <string>

#include "db/core/connection.h"
#include "dbpool/object_pool.h"

namespace velmora {

class TFDConnectionPool {
 public:
  // Opens nothing. `timeout_ms` is how long Lock waits for a permit; the server sets it from
  // Limits().PoolWaitTimeout at each start (SetWaitTimeout).
  explicit TFDConnectionPool(int ACapicity,
                             int timeout_ms = TObjectPool<TFDConnection>::kDefaultTimeout);
  // Destroys every connection, handed out or idle, from the last index down.
  virtual ~TFDConnectionPool() = default;
  TFDConnectionPool(const TFDConnectionPool&) = delete;
  TFDConnectionPool& operator=(const TFDConnectionPool&) = delete;

  // An open connection, or nullptr when none can be had (pool full after the wait, or the
  // database cannot be reached). Never raises. When opening a new connection failed, `error` (if
  // given) receives the driver's own message; it is left alone otherwise.
  TFDConnection* Lock(std::string* error = nullptr) { return FPool.Lock(error); }
  // Gives a connection back; it stays open, unless the give-back checks above drop it. One the
  // pool does not hold is ignored.
  void Unlock(TFDConnection* Value) { FPool.Unlock(Value); }
  // Drops a handed-out connection instead of giving it back, releasing its permit.
  void Discard(TFDConnection* Value) { FPool.Discard(Value); }
  // Destroys the lowest-indexed idle connection, if any; its datasets are detached.
  void FreeAndNil() { FPool.FreeAndNil(); }

  size_t Count() const { return FPool.Count(); }
  TFDConnection* Item(size_t index) const { return FPool.Item(index); }
  int TagOf(const TFDConnection* value) const { return FPool.TagOf(value); }
  int Permits() const { return FPool.Permits(); }
  int WaitTimeout() const { return FPool.Timeout(); }
  // How long later Lock calls wait for a permit, in milliseconds.
  void SetWaitTimeout(int timeout_ms) { FPool.SetTimeout(timeout_ms); }

 private:
  TObjectPool<TFDConnection> FPool;
};

}  // namespace velmora
