// TObjectPool: the mechanism shared by the connection, query and stored-procedure pools.
//
// A pool holds at most FMaxCount objects of type T, which it owns. An object's integer `Tag` is the
// in-use mark: 1 while handed out, 0 while idle; only the pool writes it. A counting semaphore
// created with capacity permits paces the callers: Lock waits up to FTimeout ms for a permit and
// goes on without one on time-out, so a Lock never blocks for longer than that before the list is
// searched. A permit is given back only by Unlock; a Lock that ends with nothing keeps its permit.
//
// Lock, Unlock and FreeAndNil never raise: nullptr is the only failure signal.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/server_metrics.h"
#include "dbpool/counting_semaphore.h"

namespace velmora {

template <class T>
class TObjectPool {
 public:
  // Makes a new object for Lock; may raise, and Lock then yields nullptr.
  using CreateHook = std::function<std::unique_ptr<T>()>;
  // Runs under the list's lock when an object comes back, after its Tag is set to 0. If it raises,
  // the object stays idle but its permit is not given back.
  using GiveBackHook = std::function<void(T&)>;
  // Runs outside the list's lock on an object no other caller can take (handed out, or being
  // handed out). False, or an exception, drops the object.
  using CheckHook = std::function<bool(T&)>;

  // How long Lock waits for a permit, in milliseconds, unless the pool is given another wait;
  // the server's database pools keep it.
  static constexpr int kDefaultTimeout = 3000;

  TObjectPool(int capacity, CreateHook create, GiveBackHook give_back = nullptr,
              int timeout_ms = kDefaultTimeout)
      : FTimeout(timeout_ms),
        FMaxCount(capacity),
        FSemaphore(capacity, capacity),
        FCreate(std::move(create)),
        FGiveBack(std::move(give_back)) {
    // Reserved up front so that appending a new object never reallocates under the lock.
    FObjList.items.reserve(static_cast<size_t>(std::clamp(capacity, 0, 1024)));
  }

  // Destroys every object, handed out or idle, from the last index down to index 0.
  ~TObjectPool() {
    std::lock_guard lock(FObjList.mutex);
    while (!FObjList.items.empty()) {
      CountGone(*FObjList.items.back());
      FObjList.items.pop_back();
    }
  }

  TObjectPool(const TObjectPool&) = delete;
  TObjectPool& operator=(const TObjectPool&) = delete;

  // Sets the checks run at hand-out (on an idle object about to be handed out) and at give-back.
  // Called once, before the pool is used.
  void SetChecks(CheckHook on_hand_out, CheckHook on_give_back) {
    FHandOutCheck = std::move(on_hand_out);
    FGiveBackCheck = std::move(on_give_back);
  }

  // Counts this pool's objects, waits and time-outs in `counted` (shared with other pools of its
  // kind, so its gauges move by differences). Called once, before the pool is used.
  void SetMetrics(metrics::PoolMetrics* counted) { FMetrics = counted; }

  // The lowest-indexed idle object, else a new one while fewer than FMaxCount exist, else nullptr.
  // When making the new object fails, `error` (if given) receives the failure's message.
  T* Lock(std::string* error = nullptr) noexcept {
    try {
      // A time-out is not a failure: the caller goes on without a permit.
      if (!FSemaphore.try_acquire_for(std::chrono::milliseconds(0))) {
        if (FMetrics != nullptr) FMetrics->waits.Add();
        if (!FSemaphore.try_acquire_for(
                std::chrono::milliseconds(FTimeout.load(std::memory_order_relaxed))) &&
            FMetrics != nullptr) {
          FMetrics->timeouts.Add();
        }
      }
      for (;;) {
        T* picked = nullptr;
        {
          std::lock_guard lock(FObjList.mutex);
          for (const auto& item : FObjList.items) {
            if (item->Tag == 0) {
              item->Tag = 1;
              if (FMetrics != nullptr) {
                FMetrics->idle.Sub();
                FMetrics->in_use.Add();
              }
              picked = item.get();
              break;
            }
          }
          if (picked == nullptr) {
            const size_t places = FObjList.items.size() + FOpening;
            if (places >= static_cast<size_t>(std::max(FMaxCount, 0))) return nullptr;
            ++FOpening;
          }
        }
        if (picked == nullptr) return MakeNew(error);
        if (Passes(FHandOutCheck, *picked)) return picked;
        Remove(picked, false);  // then the next idle one, or a new one
      }
    } catch (...) {
      return nullptr;
    }
  }

  // Gives `value` back: runs the give-back check outside the list's lock (failing it discards the
  // object), then marks it idle, runs the give-back hook and releases one permit. An object the
  // pool does not hold (nullptr included) changes nothing.
  void Unlock(const T* value) noexcept {
    try {
      T* held = nullptr;
      {
        std::lock_guard lock(FObjList.mutex);
        const auto it = Find(value);
        if (it == FObjList.items.end()) return;
        held = it->get();
        if (held->Tag == 0) held = nullptr;  // given back twice: no check on an idle object
      }
      if (held != nullptr && !Passes(FGiveBackCheck, *held)) {
        Remove(held, true);
        return;
      }
      std::lock_guard lock(FObjList.mutex);
      const auto it = Find(value);
      if (it == FObjList.items.end()) return;
      if ((*it)->Tag != 0 && FMetrics != nullptr) {
        FMetrics->in_use.Sub();
        FMetrics->idle.Add();
      }
      (*it)->Tag = 0;
      if (FGiveBack) FGiveBack(**it);
      FSemaphore.release();
    } catch (...) {
    }
  }

  // Drops a handed-out object instead of giving it back: it leaves the list, is destroyed outside
  // the list's lock, and one permit is released as a give-back releases it. An object the pool
  // does not hold (nullptr included) changes nothing.
  void Discard(const T* value) noexcept { Remove(value, true); }

  // Destroys the lowest-indexed idle object, if any. The permits are not touched.
  void FreeAndNil() noexcept {
    try {
      std::lock_guard lock(FObjList.mutex);
      const auto it = std::find_if(FObjList.items.begin(), FObjList.items.end(),
                                   [](const auto& item) { return item->Tag == 0; });
      if (it == FObjList.items.end()) return;
      // Taken out of the list first, then destroyed, still under the list's lock.
      CountGone(**it);
      std::unique_ptr<T> dropped = std::move(*it);
      FObjList.items.erase(it);
    } catch (...) {
    }
  }

  // Inspection, for the operator and tests.
  size_t Count() const {
    std::lock_guard lock(FObjList.mutex);
    return FObjList.items.size();
  }
  // The object at `index`, or nullptr past the end.
  T* Item(size_t index) const {
    std::lock_guard lock(FObjList.mutex);
    return index < FObjList.items.size() ? FObjList.items[index].get() : nullptr;
  }
  // The object's in-use mark, read under the list's lock; -1 when the pool does not hold it.
  int TagOf(const T* value) const {
    std::lock_guard lock(FObjList.mutex);
    for (const auto& item : FObjList.items) {
      if (item.get() == value) return item->Tag;
    }
    return -1;
  }
  int Permits() const { return FSemaphore.count(); }
  int Timeout() const { return FTimeout.load(std::memory_order_relaxed); }
  // Sets how long later Lock calls wait for a permit; a Lock already waiting keeps its wait.
  void SetTimeout(int timeout_ms) { FTimeout.store(timeout_ms, std::memory_order_relaxed); }
  int MaxCount() const { return FMaxCount; }

 private:
  using Items = std::vector<std::unique_ptr<T>>;

  typename Items::iterator Find(const T* value) {
    return std::find_if(FObjList.items.begin(), FObjList.items.end(),
                        [value](const auto& item) { return item.get() == value; });
  }

  // Takes an object leaving the list out of the gauges; under the list's lock.
  void CountGone(const T& object) noexcept {
    if (FMetrics == nullptr) return;
    if (object.Tag != 0) {
      FMetrics->in_use.Sub();
    } else {
      FMetrics->idle.Sub();
    }
  }

  static bool Passes(const CheckHook& check, T& object) noexcept {
    if (!check) return true;
    try {
      return check(object);
    } catch (...) {
      return false;
    }
  }

  // Makes a new object for a place Lock reserved, outside the list's lock.
  T* MakeNew(std::string* error) noexcept {
    std::unique_ptr<T> made;
    try {
      made = FCreate();
    } catch (const std::exception& e) {
      if (error != nullptr) *error = e.what();
    } catch (...) {
      if (error != nullptr) *error = "unknown error";
    }
    std::lock_guard lock(FObjList.mutex);
    --FOpening;
    if (made == nullptr) return nullptr;
    made->Tag = 1;
    try {
      FObjList.items.push_back(std::move(made));  // reserved up front: normally no reallocation
    } catch (...) {
      return nullptr;
    }
    if (FMetrics != nullptr) FMetrics->in_use.Add();
    return FObjList.items.back().get();
  }

  // Takes `value` out of the list and destroys it outside the list's lock; with `release`, gives
  // one permit back.
  void Remove(const T* value, bool release) noexcept {
    std::unique_ptr<T> dropped;
    {
      std::lock_guard lock(FObjList.mutex);
      const auto it = Find(value);
      if (it == FObjList.items.end()) return;
      CountGone(**it);
      dropped = std::move(*it);
      FObjList.items.erase(it);
      if (release) FSemaphore.release();
    }
    dropped.reset();
  }

  struct ObjList {
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<T>> items;  // creation order
  };

  ObjList FObjList;
  std::atomic<int> FTimeout;
  const int FMaxCount;
  CountingSemaphore FSemaphore;
  size_t FOpening = 0;  // places reserved by Lock calls making a new object; under the lock
  CreateHook FCreate;
  GiveBackHook FGiveBack;
  CheckHook FHandOutCheck;
  CheckHook FGiveBackCheck;
  metrics::PoolMetrics* FMetrics = nullptr;
};

}  // namespace velmora
