// TDataSet: an in-memory dataset with a cursor, editing, a change log and binary storage.
//
// Rows live in a compact record storage (data/dataset_records.h). Drivers fill it through the
// append path (BeginAppend / Append... / EndAppend), which converts each value to its field's
// type without building a variant. Users edit through Append/Insert/Edit, the field setters and
// Post. With CachedUpdates on, changes are logged: each changed row keeps its state and, when
// modified or deleted, its original values, until CommitUpdates; with it off, changes take effect
// at once and leave unmodified rows.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/dataset_records.h"
#include "data/field_defs.h"
#include "data/memory_stream.h"
#include "data/row_charge.h"
#include "variant/ole_variant.h"

namespace velmora {

enum TDataSetState : uint8_t { dsInactive, dsBrowse, dsEdit, dsInsert };

enum TUpdateStatus : uint8_t { usUnmodified, usModified, usInserted, usDeleted };

// Kinds of rows selected by the change filter.
enum TUpdateRecordType : uint8_t { rtModified, rtInserted, rtDeleted, rtUnmodified, rtHasErrors };

class TUpdateRecordTypes {
 public:
  constexpr TUpdateRecordTypes() = default;
  constexpr TUpdateRecordTypes(std::initializer_list<TUpdateRecordType> kinds) {
    for (auto k : kinds) bits_ = static_cast<uint8_t>(bits_ | (1u << k));
  }
  constexpr bool Contains(TUpdateRecordType k) const { return (bits_ >> k) & 1u; }
  constexpr uint8_t Bits() const { return bits_; }
  constexpr bool operator==(const TUpdateRecordTypes&) const = default;

 private:
  uint8_t bits_ = 0;
};

// The filter every dataset starts with: deleted rows hidden.
inline constexpr TUpdateRecordTypes kDefaultFilterChanges{rtModified, rtInserted, rtUnmodified};

class TDataSet;

// A field of the current row (a light handle; it stays usable while the dataset lives).
class TField {
 public:
  TField(TDataSet& dataset, int index) : ds_(&dataset), index_(index) {}

  int Index() const { return index_; }
  const std::string& FieldName() const;
  TFieldType DataType() const;

  OleVariant Value() const;
  // The value the row had when it was loaded or last committed; Null for an inserted row.
  OleVariant OldValue() const;
  bool IsNull() const;
  std::string AsString() const;  // "" for NULL
  int32_t AsInteger() const;     // 0 for NULL
  int64_t AsLargeInt() const;    // 0 for NULL
  double AsFloat() const;        // 0 for NULL
  bool AsBoolean() const;        // false for NULL

  // Assignment: the dataset must be in edit or insert mode.
  void SetValue(const OleVariant& value);
  TField& operator=(const OleVariant& value) {
    SetValue(value);
    return *this;
  }
  void Clear() { SetValue(OleVariant::Null()); }

 private:
  TDataSet* ds_;
  int index_;
};

// Adds one row to a dataset, value by value in field order (see TDataSet::BeginAppend).
class RecordAppender {
 public:
  void AppendNull();
  void AppendInt64(int64_t v);
  void AppendDouble(double v);
  void AppendText(std::string_view utf8);
  void AppendBytes(std::string_view bytes);
  void AppendVariant(const OleVariant& v);  // Null and Empty give NULL

 private:
  friend class TDataSet;
  const TFieldDef& NextField();

  TRecordStore* store_ = nullptr;
  const TFieldDefs* defs_ = nullptr;
  TRowCharge* charge_ = nullptr;  // set while the rows are charged
  size_t start_ = 0;
  int field_ = 0;
  bool open_ = false;
};

class TDataSet {
 public:
  TDataSet() = default;
  virtual ~TDataSet() = default;
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  TFieldDefs& FieldDefs() { return defs_; }
  const TFieldDefs& FieldDefs() const { return defs_; }

  // --- Opening and closing ---
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool active) { active ? Open() : Close(); }
  // Runs DoOpen (which may define fields and append rows), then goes to the first row.
  void Open();
  // Drops a pending edit and releases all rows; the field definitions stay.
  void Close();
  TDataSetState State() const { return state_; }

  // --- Fields of the current row ---
  int FieldCount() const { return defs_.Count(); }
  TField Fields(int index);
  // Raises "Field 'X' not found" for an unknown name (letter case folded, as TFieldDefs::IndexOf).
  TField FieldByName(std::string_view name);
  std::optional<TField> FindField(std::string_view name);
  OleVariant FieldValue(int index) const;
  bool FieldIsNull(int index) const;
  OleVariant OldValue(int index) const;
  void SetFieldValue(int index, const OleVariant& value);
  OleVariant FieldValues(std::string_view name) const;
  void SetFieldValues(std::string_view name, const OleVariant& value);

  // --- Navigation over the rows the change filter shows ---
  void First();
  void Next();
  void Prior();
  void Last();
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  int RecNo() const;  // 1-based position among the visible rows; 0 when there is none
  int RecordCount() const;
  // Bytes the record storage holds (live records and those not yet reclaimed). Deleted and
  // replaced records are reclaimed once they make up half of it, so it stays within about twice
  // what the rows need however many rows come and go.
  size_t RecordStoreBytes() const { return store_.arena.size(); }
  bool IsEmpty() const { return RecordCount() == 0; }
  // Finds the first visible row whose field equals the value (exactly, after converting the
  // value to the field's type; Null finds NULL) and makes it current.
  bool Locate(std::string_view field_name, const OleVariant& value);

  // --- Editing ---
  void Append();  // new row after the last one, in insert mode
  void Insert();  // new row before the current one, in insert mode
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  // Removes every row, logged or not, and the change log.
  void EmptyDataSet();

  // --- Change log ---
  bool CachedUpdates() const { return cached_updates_; }
  void SetCachedUpdates(bool on) { cached_updates_ = on; }
  TUpdateStatus UpdateStatus() const;
  TUpdateRecordTypes FilterChanges() const { return filter_; }
  // Sets the filter and goes to the first row it shows.
  void FilterChanges(TUpdateRecordTypes kinds);
  // The current row's error; nullptr when it has none.
  const TRowError* RowError() const;
  void SetRowError(std::string message);
  void ClearRowError();
  int ChangeCount() const;  // rows not unmodified
  bool UpdatesPending() const { return ChangeCount() > 0; }
  // Turns the log into plain rows: deleted rows go, the others become unmodified.
  void CommitUpdates();
  void MergeChangeLog() { CommitUpdates(); }

  // --- Storage (format described in docs/storage-format.md) ---
  // Writes structure, all rows and the change log at the stream's position.
  void SaveToStream(TMemoryStream& stream);
  // The bytes SaveToStream writes.
  size_t SavedSize() const;
  // Replaces structure and rows with those read from the stream's position; the dataset is then
  // open on its first row. A loaded change log turns CachedUpdates on. Raises EFormatError on
  // malformed input and leaves the dataset as it was.
  void LoadFromStream(TMemoryStream& stream);

  // --- Rows charged to the memory budget (a result a server sends) ---
  // From this call until the dataset is closed, or its next Open fails, the rows drivers append
  // are charged to MemoryBudget::Process() and bounded as data/row_charge.h says: past
  // `max_saved_bytes` (the rows as saved) an append raises EResultTooLarge with `refusal`. Closing
  // frees the rows' buffers with the charge. Raises EDatabaseError on an open dataset.
  void ChargeRows(uint64_t max_saved_bytes, std::string refusal);
  // What the rows hold of the budget now (0 when they are not charged).
  uint64_t ChargedBytes() const { return row_charge_.Charged(); }

  // --- Fast append path for drivers ---
  // Starts a new unmodified row (no change-log entry); give every field in order, then
  // EndAppend. Usable while the dataset is open in browse mode or while DoOpen runs.
  RecordAppender& BeginAppend();
  void EndAppend();
  void CancelAppend();

 protected:
  // Called by Open before the dataset becomes active: a subclass defines fields and fetches rows.
  virtual void DoOpen() {}
  // Called by Close before the rows are released.
  virtual void DoClose() {}

  const TRecordStore& Records() const { return store_; }

 private:
  static constexpr size_t npos = static_cast<size_t>(-1);

  bool Visible(const TRowEntry& row) const;
  size_t NextVisible(size_t from) const;   // first visible at or after `from`
  size_t PriorVisible(size_t from) const;  // last visible at or before `from`
  void CheckActive() const;
  void CheckBrowseMode();
  void CheckEditing() const;
  void Invalidate() { count_valid_ = false; }
  std::string_view CurrentRecord() const;
  std::string_view FieldBytes(std::string_view record, int index) const;
  void BeginEditBuffer(std::string_view record);
  std::string BuildEditRecord() const;
  int RequireField(std::string_view name) const;
  // Raises "Field index <index> out of range" unless 0 <= index < FieldCount().
  void CheckFieldIndex(int index) const;
  // Counts bytes of records no row refers to any more, and rewrites the storage without them once
  // they are half of it.
  void Discard(uint64_t bytes);
  void CompactRecords();

  TFieldDefs defs_;
  TRecordStore store_;
  TRowCharge row_charge_;
  RecordAppender appender_;
  TDataSetState state_ = dsInactive;
  bool cached_updates_ = false;
  TUpdateRecordTypes filter_ = kDefaultFilterChanges;
  size_t cur_ = npos;  // index into store_.rows of the current row
  bool bof_ = true;
  bool eof_ = true;
  mutable int count_ = 0;
  mutable bool count_valid_ = false;

  // Pending values in edit and insert mode: each field's encoding, or NULL.
  std::vector<std::string> edit_values_;
  std::vector<uint8_t> edit_null_;
  size_t insert_at_ = npos;
  uint64_t discarded_ = 0;  // bytes of the arena no row refers to (an estimate; see Discard)

  // Field offsets of the record last read, so that reading fields in turn stays linear.
  mutable std::vector<uint32_t> offsets_;
  mutable uint64_t offsets_key_ = UINT64_MAX;
  mutable uint64_t offsets_gen_ = UINT64_MAX;
};

}  // namespace velmora
