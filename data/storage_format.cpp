#include "data/storage_format.h"

#include <fmt/format.h>

#include "data/dataset_values.h"

namespace velmora {

namespace {

constexpr uint8_t kFlagCachedUpdates = 0x01;
constexpr uint8_t kAttrRequired = 0x01, kAttrReadOnly = 0x02, kAttrInKey = 0x04,
                  kAttrAutoInc = 0x08;
constexpr uint8_t kRowHasError = 0x80;
// Smallest encoded field definition: three empty strings, type, three i32 and the attributes.
constexpr size_t kMinFieldDefSize = 3 * 4 + 1 + 3 * 4 + 1;

uint8_t AttributesOf(const TFieldDef& d) {
  return static_cast<uint8_t>((d.Required ? kAttrRequired : 0) | (d.ReadOnly ? kAttrReadOnly : 0) |
                              (d.InKey ? kAttrInKey : 0) | (d.AutoInc ? kAttrAutoInc : 0));
}

bool HasOriginal(TRowState s) {
  return s == TRowState::Modified || s == TRowState::Deleted;
}

// Checks one record of untrusted input and returns its bytes.
std::string_view CheckRecord(ByteReader& in, const TFieldDefs& defs, size_t row) {
  const uint8_t* start = in.Position();
  const int n = defs.Count();
  const size_t nb = NullBitmapBytes(n);
  const uint8_t* bitmap = in.GetBytes(nb);
  if (n % 8 != 0 && (bitmap[nb - 1] >> (n % 8)) != 0)
    throw EFormatError(fmt::format("Row {}: null flags set beyond the last field", row));
  for (int i = 0; i < n; ++i) {
    const bool is_null = (bitmap[i / 8] >> (i % 8)) & 1u;
    const TValueKind kind = ValueKindOf(defs[i].DataType);
    if (is_null) continue;
    if (kind == TValueKind::None)
      throw EFormatError(fmt::format("Row {}: field '{}' of type {} must be NULL", row,
                                     defs[i].Name, FieldTypeName(defs[i].DataType)));
    try {
      CheckValue(kind, in);
    } catch (const EFormatError& e) {
      // A value that runs past the end names its row and field like any other bad value, so
      // its length field, not the file's end, is what the message points at.
      throw EFormatError(fmt::format("Row {}, field '{}': {}", row, defs[i].Name, e.what()));
    }
  }
  return {reinterpret_cast<const char*>(start), static_cast<size_t>(in.Position() - start)};
}

// Magic, version and flags; returns the flags.
uint8_t ReadHeader(std::string_view input, ByteReader& in) {
  if (input.size() < sizeof kStorageMagic ||
      input.substr(0, sizeof kStorageMagic) != std::string_view(kStorageMagic, 4))
    throw EFormatError("Not a saved dataset (bad magic)");
  in.GetBytes(sizeof kStorageMagic);
  const uint16_t version = in.Get<uint16_t>();
  if (version != kStorageVersion)
    throw EFormatError(fmt::format("Unsupported storage format version {}", version));
  const uint8_t flags = in.Get<uint8_t>();
  if (flags & ~kFlagCachedUpdates) throw EFormatError("Unknown dataset flags");
  return flags;
}

void ReadFieldDefs(ByteReader& in, TFieldDefs& defs) {
  const uint32_t field_count = in.Get<uint32_t>();
  if (field_count > in.Remaining() / kMinFieldDefSize)
    throw EFormatError(fmt::format("Field count {} exceeds the data", field_count));
  for (uint32_t i = 0; i < field_count; ++i) {
    TFieldDef d;
    d.Name = std::string(in.GetString());
    const uint8_t type = in.Get<uint8_t>();
    if (type >= kFieldTypeCount)
      throw EFormatError(fmt::format("Field '{}': unknown field type code {}", d.Name, type));
    d.DataType = static_cast<TFieldType>(type);
    d.Size = in.Get<int32_t>();
    d.Precision = in.Get<int32_t>();
    d.Scale = in.Get<int32_t>();
    const uint8_t attrs = in.Get<uint8_t>();
    if (attrs & ~(kAttrRequired | kAttrReadOnly | kAttrInKey | kAttrAutoInc))
      throw EFormatError(fmt::format("Field '{}': unknown attribute flags", d.Name));
    d.Required = attrs & kAttrRequired;
    d.ReadOnly = attrs & kAttrReadOnly;
    d.InKey = attrs & kAttrInKey;
    d.AutoInc = attrs & kAttrAutoInc;
    d.OriginTable = std::string(in.GetString());
    d.OriginColumn = std::string(in.GetString());
    defs.Add(std::move(d));
  }
}

// Records are kept where they lie in a copy of the input (`base` is its start): one copy, no
// per-row allocation. The copy itself is made by the caller once the size is known.
void ReadRows(ByteReader& in, const char* base, TStoredDataSet& result) {
  const uint32_t row_count = in.Get<uint32_t>();
  const size_t min_row = 1 + NullBitmapBytes(result.defs.Count());
  if (row_count > in.Remaining() / min_row)
    throw EFormatError(fmt::format("Row count {} exceeds the data", row_count));
  TRecordStore& store = result.store;
  store.rows.reserve(row_count);
  for (uint32_t i = 0; i < row_count; ++i) {
    const uint8_t head = in.Get<uint8_t>();
    const uint8_t state = head & ~kRowHasError;
    if (state > static_cast<uint8_t>(TRowState::Deleted))
      throw EFormatError(fmt::format("Row {}: bad row state {}", i, state));
    TRowEntry r;
    r.state = static_cast<TRowState>(state);
    const std::string_view cur = CheckRecord(in, result.defs, i);
    r.cur = static_cast<uint64_t>(cur.data() - base);
    r.cur_len = static_cast<uint32_t>(cur.size());
    if (HasOriginal(r.state)) {
      const std::string_view orig = CheckRecord(in, result.defs, i);
      r.orig = static_cast<uint64_t>(orig.data() - base);
      r.orig_len = static_cast<uint32_t>(orig.size());
      r.has_orig = true;
    }
    if (head & kRowHasError) {
      store.errors.push_back(TRowError{std::string(in.GetString())});
      r.error = static_cast<uint32_t>(store.errors.size());
    }
    store.rows.push_back(r);
  }
}

}  // namespace

size_t SavedHeaderSize(const TFieldDefs& defs) {
  size_t total = 16;
  for (const TFieldDef& d : defs)
    total += kMinFieldDefSize + d.Name.size() + d.OriginTable.size() + d.OriginColumn.size();
  return total;
}

size_t SavedSize(const TFieldDefs& defs, const TRecordStore& store) {
  size_t total = SavedHeaderSize(defs);
  for (const TRowEntry& r : store.rows) {
    total += 1 + r.cur_len + (HasOriginal(r.state) ? r.orig_len : 0);
    if (r.error) total += 4 + store.errors[r.error - 1].Message.size();
  }
  return total;
}

void WriteDataSet(const TFieldDefs& defs, const TRecordStore& store, bool cached_updates,
                  std::string& out) {
  out.reserve(out.size() + SavedSize(defs, store));

  ByteWriter w(out);
  w.PutBytes(kStorageMagic, sizeof kStorageMagic);
  w.Put<uint16_t>(kStorageVersion);
  w.Put<uint8_t>(cached_updates ? kFlagCachedUpdates : 0);
  w.Put<uint32_t>(static_cast<uint32_t>(defs.Count()));
  for (const TFieldDef& d : defs) {
    w.PutString(d.Name);
    w.Put<uint8_t>(d.DataType);
    w.Put<int32_t>(d.Size);
    w.Put<int32_t>(d.Precision);
    w.Put<int32_t>(d.Scale);
    w.Put<uint8_t>(AttributesOf(d));
    w.PutString(d.OriginTable);
    w.PutString(d.OriginColumn);
  }
  w.Put<uint32_t>(static_cast<uint32_t>(store.rows.size()));
  for (const TRowEntry& r : store.rows) {
    w.Put<uint8_t>(
        static_cast<uint8_t>(static_cast<uint8_t>(r.state) | (r.error ? kRowHasError : 0)));
    out.append(store.Current(r));
    if (HasOriginal(r.state)) out.append(r.has_orig ? store.Original(r) : store.Current(r));
    if (r.error) w.PutString(store.errors[r.error - 1].Message);
  }
}

size_t ReadDataSet(std::string_view input, TStoredDataSet& out) {
  ByteReader in(input);
  TStoredDataSet result;
  try {
    result.cached_updates = ReadHeader(input, in) & kFlagCachedUpdates;
    ReadFieldDefs(in, result.defs);
    ReadRows(in, input.data(), result);
  } catch (const ETruncatedInput&) {
    // A value that runs past the end was reported by CheckRecord with its row and field; any
    // other early end is a cut-off file.
    throw ETruncatedInput("Saved dataset is truncated");
  }
  const size_t used = input.size() - in.Remaining();
  result.store.arena.assign(input.data(), used);
  out = std::move(result);
  return used;
}

}  // namespace velmora
