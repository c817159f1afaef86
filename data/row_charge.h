// TRowCharge: the memory of a dataset's rows charged to the process memory budget while a driver
// appends them, for results a server builds on behalf of a client.
//
// Rules:
// - Charging covers the record storage as allocated: the arena's capacity and the row table's.
//   Both grow in steps charged before they are allocated (the old buffer and the new one together
//   while the rows move), so the budget's lock is taken once a step, not once a row; a value
//   larger than what is left is charged before it is copied in.
// - The rows as saved (SavedBytes) may not pass the limit given to Start: the value or row that
//   would pass it raises EResultTooLarge with the text given to Start, before it is copied in where
//   its size is known. A result of exactly the limit passes.
// - A refused step raises EMemoryBudgetExceeded; either way the driver's fetch stops and the
//   dataset frees its rows (End), giving the charge back.
//
// Thread contract: one charge belongs to one dataset and is used by the thread using it.
#pragma once

#include <cstdint>
#include <string>

#include "common/memory_budget.h"
#include "data/dataset_records.h"
#include "data/field_defs.h"

namespace velmora {

// A result passed the largest size its server allows; the text names the limit.
class EResultTooLarge : public EDatabaseError {
 public:
  using EDatabaseError::EDatabaseError;
};

class TRowCharge {
 public:
  bool On() const { return on_; }
  uint64_t Charged() const { return held_.Bytes(); }
  // Charging starts for an empty store (its spare buffers are freed first).
  void Start(TRecordStore& store, uint64_t max_saved_bytes, std::string refusal);
  // What the saved form takes besides the rows (the field definitions, once they are known).
  void SetHeaderBytes(uint64_t bytes) { header_bytes_ = bytes; }
  // Room for `bytes` more in the arena, charged before it is made. A value of which `exact` bytes
  // are known (a text's or byte array's content; the rest of the room is what its encoding may
  // add) is checked against the limit with those: the room itself is an upper bound, and checked
  // with it a result a few bytes under the limit was refused.
  void Room(TRecordStore& store, size_t bytes, size_t exact = 0) {
    if (store.arena.capacity() - store.arena.size() < bytes) GrowArena(store, bytes, exact);
  }
  // Before a row is begun: room for its entry in the row table and for a small record.
  void BeforeRow(TRecordStore& store, size_t record_bytes);
  // After a row is complete: its size against the limit, and any growth that escaped Room.
  void AfterRow(const TRecordStore& store);
  // Frees the store's rows and buffers and gives the charge back; charging stops.
  void End(TRecordStore& store);

 private:
  uint64_t SavedBytes(const TRecordStore& store, uint64_t more) const {
    return header_bytes_ + store.arena.size() + store.rows.size() + more;
  }
  void CheckLimit(const TRecordStore& store, uint64_t more) const;
  void GrowArena(TRecordStore& store, size_t bytes, size_t exact);
  void GrowRows(TRecordStore& store);
  uint64_t Allocated(const TRecordStore& store) const {
    return store.arena.capacity() + store.rows.capacity() * sizeof(TRowEntry);
  }

  bool on_ = false;
  uint64_t max_saved_ = 0;
  uint64_t header_bytes_ = 0;
  std::string refusal_;
  MemoryReservation held_;
};

}  // namespace velmora
