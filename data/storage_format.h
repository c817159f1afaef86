// The binary storage format of datasets: structure, rows with their states, original values and
// errors. Layout in docs/storage-format.md.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data/dataset_records.h"
#include "data/field_defs.h"
#include "variant/byte_io.h"

namespace velmora {

inline constexpr char kStorageMagic[4] = {'V', 'L', 'D', 'S'};
inline constexpr uint16_t kStorageVersion = 1;

struct TStoredDataSet {
  TFieldDefs defs;
  TRecordStore store;
  bool cached_updates = false;
};

// The bytes WriteDataSet writes: SavedSize(defs, store) for the whole, SavedHeaderSize(defs) for
// everything but the rows.
size_t SavedHeaderSize(const TFieldDefs& defs);
size_t SavedSize(const TFieldDefs& defs, const TRecordStore& store);

// Appends the saved form of the dataset to `out`.
void WriteDataSet(const TFieldDefs& defs, const TRecordStore& store, bool cached_updates,
                  std::string& out);

// Reads one saved dataset from the start of `in`; returns the number of bytes it took. Raises
// EFormatError, saying what is wrong, on any malformed input: ETruncatedInput ("Saved dataset is
// truncated") when the input ends early, except inside a value, which is reported with its row
// and field ("Row 0, field 'Name': Unexpected end of data") as a plain EFormatError.
size_t ReadDataSet(std::string_view in, TStoredDataSet& out);

}  // namespace velmora
