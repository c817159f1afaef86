// Holds on files within this process: the sharing rules of the file operations.
//
// A shared hold (reading for the file store) admits other shared holds; an exclusive hold (every
// write and a download's read) admits nothing else. Holds never wait: a conflicting request is
// refused at once and the caller reports the file as in use. Holds are keyed by the canonical
// absolute path, so two spellings of one file meet in one entry. They exclude only calls of this
// process; other processes are not locked out.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace velmora {

// The reason given when a hold is refused.
inline constexpr const char* kFileInUseMessage =
    "The process cannot access the file because it is being used by another process.";

class FileHoldTable;

// One hold; released when destroyed.
class FileHold {
 public:
  FileHold(FileHold&& other) noexcept;
  FileHold& operator=(FileHold&&) = delete;
  FileHold(const FileHold&) = delete;
  FileHold& operator=(const FileHold&) = delete;
  ~FileHold();

 private:
  friend class FileHoldTable;
  FileHold(FileHoldTable* table, std::string key, bool exclusive)
      : table_(table), key_(std::move(key)), exclusive_(exclusive) {}

  FileHoldTable* table_;
  std::string key_;
  bool exclusive_;
};

class FileHoldTable {
 public:
  // The table every file operation uses.
  static FileHoldTable& Instance();

  // A hold, or nothing when the file is held in a conflicting way.
  std::optional<FileHold> TryShared(const std::string& key);
  std::optional<FileHold> TryExclusive(const std::string& key);

  // Number of files held at present.
  size_t HeldCount() const;

 private:
  friend class FileHold;
  struct Entry {
    int readers = 0;
    bool writer = false;
  };
  void Release(const std::string& key, bool exclusive);

  mutable std::mutex mutex_;
  std::unordered_map<std::string, Entry> held_;
};

}  // namespace velmora
