#include "services/files/file_holds.h"

namespace velmora {

FileHold::FileHold(FileHold&& other) noexcept
    : table_(other.table_), key_(std::move(other.key_)), exclusive_(other.exclusive_) {
  other.table_ = nullptr;
}

FileHold::~FileHold() {
  if (table_ != nullptr) table_->Release(key_, exclusive_);
}

FileHoldTable& FileHoldTable::Instance() {
  static FileHoldTable table;
  return table;
}

std::optional<FileHold> FileHoldTable::TryShared(const std::string& key) {
  std::lock_guard lock(mutex_);
  Entry& entry = held_[key];
  if (entry.writer) return std::nullopt;
  std::optional<FileHold> hold(FileHold(this, key, false));  // may throw; nothing changed yet
  ++entry.readers;
  return hold;
}

std::optional<FileHold> FileHoldTable::TryExclusive(const std::string& key) {
  std::lock_guard lock(mutex_);
  Entry& entry = held_[key];
  if (entry.writer || entry.readers > 0) return std::nullopt;
  std::optional<FileHold> hold(FileHold(this, key, true));  // may throw; nothing changed yet
  entry.writer = true;
  return hold;
}

size_t FileHoldTable::HeldCount() const {
  std::lock_guard lock(mutex_);
  return held_.size();
}

void FileHoldTable::Release(const std::string& key, bool exclusive) {
  std::lock_guard lock(mutex_);
  auto it = held_.find(key);
  if (it == held_.end()) return;
  if (exclusive) {
    it->second.writer = false;
  } else {
    --it->second.readers;
  }
  if (!it->second.writer && it->second.readers == 0) held_.erase(it);
}

}  // namespace velmora
