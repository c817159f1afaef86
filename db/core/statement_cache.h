// TStatementCache: the prepared statements one session keeps for texts it may see again, a small
// bounded set evicting the least recently used.
//
// Thread rules: none inside. A session is used by one thread at a time, and so is its cache.
//
// Rules:
// - The key is the statement text exactly as the engine is given it (after preprocessing).
// - A statement is checked out while it runs: Take removes it from the cache and hands it to the
//   caller, who owns it until it gives it back with Put. A text run twice at once (a second
//   command of the same text while the first is still open) finds nothing and prepares its own;
//   a statement is never shared by two commands.
// - Put hands back only a statement fit to run again: reset, its bindings cleared, no lock or
//   cursor left open. A statement that failed is discarded by its owner, not put back.
// - Put returns what no longer fits: the least recently used statement when the cache is full, the
//   statement given when its key is already cached, or when its key is longer than
//   kMaxCachedTextBytes (a long text, such as one with a large literal, is seldom run again, and
//   its statement holds copies of it that would outlive the call that paid for them). The caller
//   disposes of what it gets back (the values' own destructor may do it: SQLite finalises, a named
//   server statement is deallocated).
// - Clear drops every cached statement; the session clears its cache before it closes, so no
//   statement outlives the connection it was prepared on.
//
// `Statement` is any movable value that owns one prepared statement (and whatever the driver
// keeps with it, such as its column description).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// The longest statement text a cache keeps.
inline constexpr size_t kMaxCachedTextBytes = 64 * 1024;

template <typename Statement>
class TStatementCache {
 public:
  explicit TStatementCache(size_t capacity) : capacity_(capacity) { slots_.reserve(capacity); }

  // The cached statement of `key`, removed from the cache; nullopt when none is cached.
  std::optional<Statement> Take(std::string_view key) {
    const size_t hash = Hash(key);
    for (size_t i = 0; i < slots_.size(); ++i) {
      Slot& slot = slots_[i];
      if (slot.hash != hash || slot.key != key) continue;
      std::optional<Statement> taken(std::move(slot.statement));
      RemoveAt(i);
      return taken;
    }
    return std::nullopt;
  }

  // Caches `statement` under `key` as the most recently used. Returns the statement that no
  // longer fits (see the rules above), or nullopt.
  std::optional<Statement> Put(std::string key, Statement statement) {
    if (capacity_ == 0 || key.size() > kMaxCachedTextBytes) return statement;
    const size_t hash = Hash(key);
    for (const Slot& slot : slots_) {
      if (slot.hash == hash && slot.key == key) return statement;
    }
    std::optional<Statement> evicted;
    if (slots_.size() == capacity_) {
      size_t oldest = 0;
      for (size_t i = 1; i < slots_.size(); ++i) {
        if (slots_[i].last_use < slots_[oldest].last_use) oldest = i;
      }
      evicted.emplace(std::move(slots_[oldest].statement));
      RemoveAt(oldest);
    }
    slots_.push_back(Slot{hash, std::move(key), std::move(statement), ++clock_});
    return evicted;
  }

  // Drops every cached statement (each is destroyed).
  void Clear() { slots_.clear(); }

  size_t Size() const { return slots_.size(); }
  size_t Capacity() const { return capacity_; }

 private:
  struct Slot {
    size_t hash;
    std::string key;
    Statement statement;
    uint64_t last_use;
  };

  static size_t Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }

  void RemoveAt(size_t i) {
    if (i + 1 != slots_.size()) slots_[i] = std::move(slots_.back());
    slots_.pop_back();
  }

  size_t capacity_;
  uint64_t clock_ = 0;
  std::vector<Slot> slots_;  // unordered; a handful of entries, scanned
};

}  // namespace velmora
