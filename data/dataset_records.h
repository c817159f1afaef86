// The record storage of a dataset: every record (the values of one row) is encoded in the
// storage format's per-field value encoding and appended to one arena; rows refer to their
// records by offset. Saving writes these bytes as they are.
//
// A record: a null bitmap of (field count + 7) / 8 bytes (bit i of byte i / 8 set = field i is
// NULL), then the values of the non-NULL fields in field order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The error a change apply left on a row.
struct TRowError {
  std::string Message;
};

enum class TRowState : uint8_t { Unmodified = 0, Modified = 1, Inserted = 2, Deleted = 3 };

struct TRowEntry {
  uint64_t cur = 0;   // offset of the current record in the arena
  uint64_t orig = 0;  // offset of the original record (modified and deleted rows)
  uint32_t cur_len = 0;
  uint32_t orig_len = 0;
  uint32_t error = 0;  // 0: no error; otherwise index + 1 into TRecordStore::errors
  TRowState state = TRowState::Unmodified;
  bool has_orig = false;
};

struct TRecordStore {
  std::string arena;
  std::vector<TRowEntry> rows;
  std::vector<TRowError> errors;
  uint64_t generation = 0;  // changes whenever arena offsets are reused

  std::string_view Current(const TRowEntry& r) const { return {arena.data() + r.cur, r.cur_len}; }
  std::string_view Original(const TRowEntry& r) const {
    return {arena.data() + r.orig, r.orig_len};
  }
  void Clear() {
    arena.clear();
    rows.clear();
    errors.clear();
    ++generation;
  }
};

inline size_t NullBitmapBytes(int field_count) {
  return (static_cast<size_t>(field_count) + 7) / 8;
}
inline bool RecordFieldIsNull(std::string_view record, int index) {
  return (static_cast<uint8_t>(record[static_cast<size_t>(index) / 8]) >> (index % 8)) & 1u;
}

}  // namespace velmora
