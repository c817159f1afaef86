// TPooled<Pool>: one object borrowed from a pool for a scope, given back when the holder goes, on
// every path out of it, an exception included. Every borrower of the database pools holds its
// objects this way instead of pairing Lock with Unlock by hand.
//
// The rules:
// - Borrowing never raises. When the pool has nothing to hand out (or does not exist), the holder
//   is empty (false); what that means is the borrower's to say.
// - Move-only. The object goes back once, by the holder that has it last; a moved-from holder is
//   empty and gives back nothing.
// - An object that broke is not kept for the next borrower, by the pool's own means: a connection
//   marked broken (TFDConnection::MarkBroken) is dropped by the pool's give-back check, and
//   Discard() drops the object at once where the pool offers Discard (the connection pool).
// - Reset() gives the object back before the holder goes.
//
// Thread rules: a holder belongs to the thread that borrowed; the pool is thread-safe and must
// outlive its holders.
#pragma once

#include <string>
#include <type_traits>
#include <utility>

#include "dbpool/uFDConnPool.h"
#include "dbpool/uFDQueryPool.h"
#include "dbpool/uFDStoredProcPool.h"

namespace velmora {

template <class Pool>
class TPooled {
 public:
  using Object = std::remove_pointer_t<decltype(std::declval<Pool&>().Lock())>;

  // Holds nothing.
  TPooled() noexcept = default;
  // Borrows from `pool`; empty when `pool` is nullptr or has nothing to hand out.
  explicit TPooled(Pool* pool) noexcept : pool_(pool), object_(pool ? pool->Lock() : nullptr) {}
  // As above; where opening a new object failed, `error` receives the failure's message.
  TPooled(Pool* pool, std::string* error) noexcept requires requires(Pool& p, std::string* e) {
    p.Lock(e);
  } : pool_(pool), object_(pool ? pool->Lock(error) : nullptr) {
  }

  ~TPooled() { Reset(); }

  TPooled(TPooled&& other) noexcept
      : pool_(std::exchange(other.pool_, nullptr)),
        object_(std::exchange(other.object_, nullptr)) {}
  TPooled& operator=(TPooled&& other) noexcept {
    if (this != &other) {
      Reset();
      pool_ = std::exchange(other.pool_, nullptr);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  TPooled(const TPooled&) = delete;
  TPooled& operator=(const TPooled&) = delete;

  explicit operator bool() const noexcept { return object_ != nullptr; }
  Object* Get() const noexcept { return object_; }
  Object& operator*() const noexcept { return *object_; }
  Object* operator->() const noexcept { return object_; }

  // Gives the object back now; the holder is empty afterwards.
  void Reset() noexcept {
    if (object_ == nullptr) return;
    Object* object = std::exchange(object_, nullptr);
    // The connection pool spells its give-back Unlock, the dataset pools UnLock.
    if constexpr (requires(Pool & p, Object * o) { p.Unlock(o); })
      pool_->Unlock(object);
    else
      pool_->UnLock(object);
  }

  // Drops the object instead of giving it back, releasing its place in the pool; the holder is
  // empty afterwards.
  void Discard() noexcept requires requires(Pool& p, Object* o) { p.Discard(o); }
  {
    if (object_ != nullptr) pool_->Discard(std::exchange(object_, nullptr));
  }

 private:
  Pool* pool_ = nullptr;
  Object* object_ = nullptr;
};

using TPooledConnection = TPooled<TFDConnectionPool>;
using TPooledQuery = TPooled<TFDQueryPool>;
using TPooledStoredProc = TPooled<TFDStoredProcPool>;

}  // namespace velmora
