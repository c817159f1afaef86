#include "data/row_charge.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace velmora {
namespace {

// The first arena and row table a charged fetch makes; later steps double the arena and add half
// to the row table, so a fetch of n rows takes the budget's lock about log(n) times.
constexpr size_t kFirstArenaBytes = 64 * 1024;
constexpr size_t kFirstRows = 1024;

}  // namespace

void TRowCharge::Start(TRecordStore& store, uint64_t max_saved_bytes, std::string refusal) {
  End(store);
  std::string().swap(store.arena);
  std::vector<TRowEntry>().swap(store.rows);
  max_saved_ = max_saved_bytes;
  refusal_ = std::move(refusal);
  header_bytes_ = 0;
  on_ = true;
}

void TRowCharge::CheckLimit(const TRecordStore& store, uint64_t more) const {
  if (SavedBytes(store, more) > max_saved_) throw EResultTooLarge(refusal_);
}

void TRowCharge::GrowArena(TRecordStore& store, size_t bytes, size_t exact) {
  CheckLimit(store, exact);
  std::string& arena = store.arena;
  const size_t old_capacity = arena.capacity();
  // A string's buffer at least doubles when it grows; asking for that keeps the charge exact.
  const size_t wanted = std::max({arena.size() + bytes, 2 * old_capacity, kFirstArenaBytes});
  held_.Grow(wanted);  // the new buffer, while the old one still holds the rows
  try {
    arena.reserve(wanted);
  } catch (...) {
    held_.Shrink(wanted);
    throw;
  }
  held_.Shrink(old_capacity);
  if (arena.capacity() > wanted) held_.Grow(arena.capacity() - wanted);
}

void TRowCharge::GrowRows(TRecordStore& store) {
  std::vector<TRowEntry>& rows = store.rows;
  const size_t old_capacity = rows.capacity();
  const size_t wanted = std::max(old_capacity + old_capacity / 2, kFirstRows);
  held_.Grow(wanted * sizeof(TRowEntry));
  try {
    rows.reserve(wanted);
  } catch (...) {
    held_.Shrink(wanted * sizeof(TRowEntry));
    throw;
  }
  held_.Shrink(old_capacity * sizeof(TRowEntry));
}

void TRowCharge::BeforeRow(TRecordStore& store, size_t record_bytes) {
  if (store.rows.size() == store.rows.capacity()) GrowRows(store);
  Room(store, record_bytes);
}

void TRowCharge::AfterRow(const TRecordStore& store) {
  CheckLimit(store, 0);
  const uint64_t allocated = Allocated(store);
  if (allocated > held_.Bytes()) held_.Grow(allocated - held_.Bytes());
}

void TRowCharge::End(TRecordStore& store) {
  if (!on_) return;
  on_ = false;
  // The charge goes with the memory it stands for.
  std::string().swap(store.arena);
  std::vector<TRowEntry>().swap(store.rows);
  held_ = MemoryReservation();
}

}  // namespace velmora
