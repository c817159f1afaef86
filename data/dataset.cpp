#include "data/dataset.h"

#include <fmt/format.h>

#include <cstring>

#include "data/dataset_values.h"
#include "data/storage_format.h"

namespace velmora {

namespace {

// Record storage a closed dataset keeps for its next result, in bytes each for the records and
// the row list. Closed datasets are kept for reuse (the query pools keep thirty queries), so a
// dataset that held more gives it all back: otherwise every pooled query would hold the storage of
// the largest result it ever fetched until the process ends.
constexpr size_t kStorageKeptOnClose = 256 * 1024;

void ReleaseLargeStorage(TRecordStore& store) {
  if (store.arena.capacity() > kStorageKeptOnClose) std::string().swap(store.arena);
  if (store.rows.capacity() * sizeof(TRowEntry) > kStorageKeptOnClose)
    std::vector<TRowEntry>().swap(store.rows);
}

TUpdateRecordType KindOf(TRowState s) {
  switch (s) {
    case TRowState::Modified:
      return rtModified;
    case TRowState::Inserted:
      return rtInserted;
    case TRowState::Deleted:
      return rtDeleted;
    default:
      return rtUnmodified;
  }
}

std::string BytesAsString(const OleVariant& v) {
  if (v.IsByteArray()) {
    const auto& b = v.ByteData().bytes;
    return std::string(b.begin(), b.end());
  }
  return v.AsString();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TField

const std::string& TField::FieldName() const {
  return ds_->FieldDefs()[index_].Name;
}
TFieldType TField::DataType() const {
  return ds_->FieldDefs()[index_].DataType;
}
OleVariant TField::Value() const {
  return ds_->FieldValue(index_);
}
OleVariant TField::OldValue() const {
  return ds_->OldValue(index_);
}
bool TField::IsNull() const {
  return ds_->FieldIsNull(index_);
}
std::string TField::AsString() const {
  return BytesAsString(Value());
}
int32_t TField::AsInteger() const {
  const OleVariant v = Value();
  return v.IsNull() ? 0 : v.AsInteger();
}
int64_t TField::AsLargeInt() const {
  const OleVariant v = Value();
  return v.IsNull() ? 0 : v.AsInt64();
}
double TField::AsFloat() const {
  const OleVariant v = Value();
  return v.IsNull() ? 0.0 : v.AsDouble();
}
bool TField::AsBoolean() const {
  const OleVariant v = Value();
  return v.IsNull() ? false : v.AsBoolean();
}
void TField::SetValue(const OleVariant& value) {
  ds_->SetFieldValue(index_, value);
}

// ---------------------------------------------------------------------------------------------
// RecordAppender

const TFieldDef& RecordAppender::NextField() {
  if (!open_) throw EDatabaseError("No record is being appended");
  if (field_ >= defs_->Count()) throw EDatabaseError("More values than fields in the record");
  return (*defs_)[field_];
}

void RecordAppender::AppendNull() {
  NextField();
  store_->arena[start_ + static_cast<size_t>(field_) / 8] |= static_cast<char>(1u << (field_ % 8));
  ++field_;
}

namespace {

// Room made for a value before it is encoded while rows are charged: what a number or date takes
// at most, plus the bytes of a text or byte array. An encoding that takes more (a variant array)
// is charged once its row is complete.
constexpr size_t kFixedValueRoom = 32;

size_t VariantRoom(const OleVariant& v) {
  if (v.IsByteArray()) return v.ByteData().bytes.size() + kFixedValueRoom;
  if (v.IsText()) return v.Text().size() + kFixedValueRoom;
  return kFixedValueRoom;
}

}  // namespace

// Each value is appended whole or not at all, so a failed value can be retried or nulled.
#define VELMORA_APPEND(room, exact, call)                      \
  const TFieldDef& def = NextField();                          \
  if (charge_ != nullptr) charge_->Room(*store_, room, exact); \
  std::string& arena = store_->arena;                          \
  const size_t mark = arena.size();                            \
  try {                                                        \
    call;                                                      \
  } catch (...) {                                              \
    arena.resize(mark);                                        \
    throw;                                                     \
  }                                                            \
  ++field_;

void RecordAppender::AppendInt64(int64_t v) {
  VELMORA_APPEND(kFixedValueRoom, 0, EncodeInt64Value(def, v, arena))
}
void RecordAppender::AppendDouble(double v) {
  VELMORA_APPEND(kFixedValueRoom, 0, EncodeDoubleValue(def, v, arena))
}
void RecordAppender::AppendText(std::string_view v) {
  VELMORA_APPEND(v.size() + kFixedValueRoom, v.size(), EncodeTextValue(def, v, arena))
}
void RecordAppender::AppendBytes(std::string_view v) {
  VELMORA_APPEND(v.size() + kFixedValueRoom, v.size(), EncodeBytesValue(def, v, arena))
}
void RecordAppender::AppendVariant(const OleVariant& v) {
  if (v.IsNull() || v.IsEmpty()) return AppendNull();
  VELMORA_APPEND(VariantRoom(v), VariantRoom(v) - kFixedValueRoom,
                 EncodeVariantValue(def, v, arena))
}
#undef VELMORA_APPEND

RecordAppender& TDataSet::BeginAppend() {
  if (state_ == dsEdit || state_ == dsInsert)
    throw EDatabaseError("Cannot append a record while the dataset is in edit or insert mode");
  if (appender_.open_) store_.arena.resize(appender_.start_);
  appender_.store_ = &store_;
  appender_.defs_ = &defs_;
  appender_.charge_ = nullptr;
  if (row_charge_.On()) {
    if (store_.rows.empty()) row_charge_.SetHeaderBytes(SavedHeaderSize(defs_));
    row_charge_.BeforeRow(store_, NullBitmapBytes(defs_.Count()) + kFixedValueRoom);
    appender_.charge_ = &row_charge_;
  }
  appender_.start_ = store_.arena.size();
  appender_.field_ = 0;
  appender_.open_ = true;
  store_.arena.append(NullBitmapBytes(defs_.Count()), '\0');
  return appender_;
}

void TDataSet::EndAppend() {
  if (!appender_.open_) throw EDatabaseError("No record is being appended");
  appender_.open_ = false;
  const size_t len = store_.arena.size() - appender_.start_;
  if (appender_.field_ != defs_.Count() || len > UINT32_MAX) {
    store_.arena.resize(appender_.start_);
    throw EDatabaseError(
        fmt::format("Record has {} of {} values", appender_.field_, defs_.Count()));
  }
  TRowEntry row;
  row.cur = appender_.start_;
  row.cur_len = static_cast<uint32_t>(len);
  store_.rows.push_back(row);
  Invalidate();
  if (row_charge_.On()) {
    try {
      row_charge_.AfterRow(store_);
    } catch (...) {
      store_.rows.pop_back();
      store_.arena.resize(appender_.start_);
      throw;
    }
  }
  if (Active() && cur_ == npos) First();
}

void TDataSet::ChargeRows(uint64_t max_saved_bytes, std::string refusal) {
  if (Active()) throw EDatabaseError("Rows can be charged only before the dataset is opened");
  CancelAppend();
  store_.Clear();
  discarded_ = 0;
  row_charge_.Start(store_, max_saved_bytes, std::move(refusal));
}

void TDataSet::CancelAppend() {
  if (!appender_.open_) return;
  store_.arena.resize(appender_.start_);
  appender_.open_ = false;
}

// ---------------------------------------------------------------------------------------------
// State

void TDataSet::CheckActive() const {
  if (state_ == dsInactive)
    throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == dsEdit || state_ == dsInsert) Post();
}

void TDataSet::CheckEditing() const {
  if (state_ != dsEdit && state_ != dsInsert)
    throw EDatabaseError("Dataset not in edit or insert mode");
}

void TDataSet::Open() {
  if (Active()) return;
  try {
    DoOpen();
  } catch (...) {
    CancelAppend();
    store_.Clear();
    row_charge_.End(store_);
    discarded_ = 0;
    throw;
  }
  CancelAppend();
  state_ = dsBrowse;
  Invalidate();
  First();
}

void TDataSet::Close() {
  if (!Active()) return;
  DoClose();
  CancelAppend();
  edit_values_.clear();
  edit_null_.clear();
  store_.Clear();
  row_charge_.End(store_);
  ReleaseLargeStorage(store_);
  discarded_ = 0;
  state_ = dsInactive;
  cur_ = npos;
  bof_ = eof_ = true;
  Invalidate();
}

// ---------------------------------------------------------------------------------------------
// Fields

int TDataSet::RequireField(std::string_view name) const {
  const int i = defs_.IndexOf(name);
  if (i < 0) throw EDatabaseError(fmt::format("Field '{}' not found", name));
  return i;
}

void TDataSet::CheckFieldIndex(int index) const {
  if (index < 0 || index >= defs_.Count())
    throw EDatabaseError(fmt::format("Field index {} out of range", index));
}

TField TDataSet::Fields(int index) {
  CheckFieldIndex(index);
  return TField(*this, index);
}

TField TDataSet::FieldByName(std::string_view name) {
  return TField(*this, RequireField(name));
}

std::optional<TField> TDataSet::FindField(std::string_view name) {
  const int i = defs_.IndexOf(name);
  if (i < 0) return std::nullopt;
  return TField(*this, i);
}

std::string_view TDataSet::CurrentRecord() const {
  if (cur_ == npos) return {};
  return store_.Current(store_.rows[cur_]);
}

std::string_view TDataSet::FieldBytes(std::string_view record, int index) const {
  if (RecordFieldIsNull(record, index)) return {};
  const auto key = static_cast<uint64_t>(record.data() - store_.arena.data());
  if (key != offsets_key_ || store_.generation != offsets_gen_) {
    const int n = defs_.Count();
    offsets_.resize(static_cast<size_t>(n));
    const auto* p = reinterpret_cast<const uint8_t*>(record.data());
    const auto* end = p + record.size();
    size_t pos = NullBitmapBytes(n);
    for (int i = 0; i < n; ++i) {
      offsets_[static_cast<size_t>(i)] = static_cast<uint32_t>(pos);
      if (!RecordFieldIsNull(record, i))
        pos += ValueSize(ValueKindOf(defs_[i].DataType), p + pos, end);
    }
    offsets_key_ = key;
    offsets_gen_ = store_.generation;
  }
  const size_t off = offsets_[static_cast<size_t>(index)];
  const auto* p = reinterpret_cast<const uint8_t*>(record.data()) + off;
  const size_t len = ValueSize(ValueKindOf(defs_[index].DataType), p,
                               reinterpret_cast<const uint8_t*>(record.data() + record.size()));
  return record.substr(off, len);
}

OleVariant TDataSet::FieldValue(int index) const {
  CheckActive();
  CheckFieldIndex(index);
  if (state_ == dsEdit || state_ == dsInsert) {
    if (edit_null_[static_cast<size_t>(index)]) return OleVariant::Null();
    const std::string& v = edit_values_[static_cast<size_t>(index)];
    const auto* p = reinterpret_cast<const uint8_t*>(v.data());
    return DecodeValue(defs_[index], p, p + v.size());
  }
  const std::string_view rec = CurrentRecord();
  if (rec.empty()) return OleVariant::Null();
  const std::string_view bytes = FieldBytes(rec, index);
  if (bytes.data() == nullptr) return OleVariant::Null();
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  return DecodeValue(defs_[index], p, p + bytes.size());
}

bool TDataSet::FieldIsNull(int index) const {
  CheckActive();
  CheckFieldIndex(index);
  if (state_ == dsEdit || state_ == dsInsert) return edit_null_[static_cast<size_t>(index)] != 0;
  const std::string_view rec = CurrentRecord();
  return rec.empty() || RecordFieldIsNull(rec, index);
}

OleVariant TDataSet::OldValue(int index) const {
  CheckActive();
  CheckFieldIndex(index);
  if (cur_ == npos || state_ == dsInsert) return OleVariant::Null();
  const TRowEntry& row = store_.rows[cur_];
  if (row.state == TRowState::Inserted) return OleVariant::Null();
  const std::string_view rec = row.has_orig ? store_.Original(row) : store_.Current(row);
  const std::string_view bytes = FieldBytes(rec, index);
  if (bytes.data() == nullptr) return OleVariant::Null();
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  return DecodeValue(defs_[index], p, p + bytes.size());
}

void TDataSet::SetFieldValue(int index, const OleVariant& value) {
  CheckEditing();
  CheckFieldIndex(index);
  const auto i = static_cast<size_t>(index);
  if (value.IsNull() || value.IsEmpty()) {
    edit_null_[i] = 1;
    edit_values_[i].clear();
    return;
  }
  std::string encoded;
  EncodeVariantValue(defs_[index], value, encoded, /*cut_text=*/true);
  edit_values_[i] = std::move(encoded);
  edit_null_[i] = 0;
}

OleVariant TDataSet::FieldValues(std::string_view name) const {
  return FieldValue(RequireField(name));
}

void TDataSet::SetFieldValues(std::string_view name, const OleVariant& value) {
  SetFieldValue(RequireField(name), value);
}

// ---------------------------------------------------------------------------------------------
// Navigation

bool TDataSet::Visible(const TRowEntry& row) const {
  return filter_.Contains(KindOf(row.state)) || (row.error != 0 && filter_.Contains(rtHasErrors));
}

size_t TDataSet::NextVisible(size_t from) const {
  for (size_t i = from; i < store_.rows.size(); ++i)
    if (Visible(store_.rows[i])) return i;
  return npos;
}

size_t TDataSet::PriorVisible(size_t from) const {
  if (store_.rows.empty()) return npos;
  for (size_t i = std::min(from, store_.rows.size() - 1) + 1; i-- > 0;)
    if (Visible(store_.rows[i])) return i;
  return npos;
}

void TDataSet::First() {
  CheckBrowseMode();
  cur_ = NextVisible(0);
  bof_ = true;
  eof_ = cur_ == npos;
}

void TDataSet::Last() {
  CheckBrowseMode();
  cur_ = store_.rows.empty() ? npos : PriorVisible(store_.rows.size() - 1);
  eof_ = true;
  bof_ = cur_ == npos;
}

void TDataSet::Next() {
  CheckBrowseMode();
  const size_t n = cur_ == npos ? npos : NextVisible(cur_ + 1);
  if (n == npos) {
    eof_ = true;
  } else {
    cur_ = n;
    bof_ = eof_ = false;
  }
}

void TDataSet::Prior() {
  CheckBrowseMode();
  const size_t n = (cur_ == npos || cur_ == 0) ? npos : PriorVisible(cur_ - 1);
  if (n == npos) {
    bof_ = true;
  } else {
    cur_ = n;
    bof_ = eof_ = false;
  }
}

int TDataSet::RecNo() const {
  if (!Active() || cur_ == npos) return 0;
  int n = 0;
  for (size_t i = 0; i <= cur_; ++i) n += Visible(store_.rows[i]) ? 1 : 0;
  return n;
}

int TDataSet::RecordCount() const {
  if (!Active()) return 0;
  if (!count_valid_) {
    count_ = 0;
    for (const TRowEntry& r : store_.rows) count_ += Visible(r) ? 1 : 0;
    count_valid_ = true;
  }
  return count_;
}

bool TDataSet::Locate(std::string_view field_name, const OleVariant& value) {
  CheckBrowseMode();
  const int index = RequireField(field_name);
  const bool want_null = value.IsNull() || value.IsEmpty();
  std::string key;
  if (!want_null) {
    try {
      EncodeVariantValue(defs_[index], value, key);
    } catch (const EDatabaseError&) {
      return false;  // no row can hold a value the field cannot take
    }
  }
  for (size_t i = NextVisible(0); i != npos; i = NextVisible(i + 1)) {
    const std::string_view rec = store_.Current(store_.rows[i]);
    const bool hit = want_null ? RecordFieldIsNull(rec, index)
                               : !RecordFieldIsNull(rec, index) && FieldBytes(rec, index) == key;
    if (hit) {
      cur_ = i;
      bof_ = eof_ = false;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Editing

void TDataSet::BeginEditBuffer(std::string_view record) {
  const int n = defs_.Count();
  edit_values_.assign(static_cast<size_t>(n), std::string());
  edit_null_.assign(static_cast<size_t>(n), 1);
  if (record.empty()) return;
  for (int i = 0; i < n; ++i) {
    if (RecordFieldIsNull(record, i)) continue;
    edit_values_[static_cast<size_t>(i)] = std::string(FieldBytes(record, i));
    edit_null_[static_cast<size_t>(i)] = 0;
  }
}

std::string TDataSet::BuildEditRecord() const {
  const int n = defs_.Count();
  size_t total = NullBitmapBytes(n);
  for (const std::string& v : edit_values_) total += v.size();
  std::string rec(NullBitmapBytes(n), '\0');
  rec.reserve(total);
  for (int i = 0; i < n; ++i) {
    if (edit_null_[static_cast<size_t>(i)]) {
      rec[static_cast<size_t>(i) / 8] |= static_cast<char>(1u << (i % 8));
    } else {
      rec += edit_values_[static_cast<size_t>(i)];
    }
  }
  return rec;
}

void TDataSet::Append() {
  CheckBrowseMode();
  BeginEditBuffer({});
  insert_at_ = npos;
  state_ = dsInsert;
}

void TDataSet::Insert() {
  CheckBrowseMode();
  BeginEditBuffer({});
  insert_at_ = cur_;
  state_ = dsInsert;
}

void TDataSet::Edit() {
  CheckActive();
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (cur_ == npos) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  if (store_.rows[cur_].state == TRowState::Deleted)
    throw EDatabaseError("Cannot modify a deleted record");
  BeginEditBuffer(CurrentRecord());
  state_ = dsEdit;
}

void TDataSet::Post() {
  CheckEditing();
  const std::string rec = BuildEditRecord();
  if (rec.size() > UINT32_MAX) throw EDatabaseError("Record too large");
  const uint64_t off = store_.arena.size();
  store_.arena += rec;
  if (state_ == dsInsert) {
    TRowEntry row;
    row.cur = off;
    row.cur_len = static_cast<uint32_t>(rec.size());
    row.state = cached_updates_ ? TRowState::Inserted : TRowState::Unmodified;
    if (insert_at_ == npos || insert_at_ > store_.rows.size()) {
      store_.rows.push_back(row);
      cur_ = store_.rows.size() - 1;
    } else {
      store_.rows.insert(store_.rows.begin() + static_cast<std::ptrdiff_t>(insert_at_), row);
      cur_ = insert_at_;
    }
  } else {
    TRowEntry& row = store_.rows[cur_];
    uint64_t replaced = row.cur_len;  // the record this one replaces, unless kept as original
    if (cached_updates_ && row.state == TRowState::Unmodified) {
      row.orig = row.cur;
      row.orig_len = row.cur_len;
      row.has_orig = true;
      row.state = TRowState::Modified;
      replaced = 0;
    } else if (row.has_orig && row.orig == row.cur) {
      replaced = 0;
    }
    row.cur = off;
    row.cur_len = static_cast<uint32_t>(rec.size());
    discarded_ += replaced;
  }
  edit_values_.clear();
  edit_null_.clear();
  state_ = dsBrowse;
  bof_ = eof_ = false;
  Invalidate();
  Discard(0);
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  edit_values_.clear();
  edit_null_.clear();
  state_ = dsBrowse;
  if (cur_ != npos && !Visible(store_.rows[cur_])) cur_ = NextVisible(cur_);
  bof_ = eof_ = cur_ == npos;
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) return Cancel();
  Cancel();
  if (cur_ == npos) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  TRowEntry& row = store_.rows[cur_];
  size_t next = cur_ + 1;
  if (!cached_updates_ || row.state == TRowState::Inserted) {
    const uint64_t freed = row.cur_len + (row.has_orig && row.orig != row.cur ? row.orig_len : 0);
    store_.rows.erase(store_.rows.begin() + static_cast<std::ptrdiff_t>(cur_));
    next = cur_;
    Discard(freed);
  } else if (row.state != TRowState::Deleted) {
    if (!row.has_orig) {
      row.orig = row.cur;
      row.orig_len = row.cur_len;
      row.has_orig = true;
    }
    row.state = TRowState::Deleted;
    if (Visible(row)) next = cur_;  // still shown: stay on it
  } else {
    throw EDatabaseError("Record already deleted");
  }
  Invalidate();
  cur_ = NextVisible(next);
  if (cur_ == npos && next > 0) cur_ = PriorVisible(next - 1);
  bof_ = eof_ = cur_ == npos;
}

void TDataSet::Discard(uint64_t bytes) {
  discarded_ += bytes;
  // Small stores are left alone: rewriting them would cost more than the bytes it saves.
  constexpr uint64_t kWorthReclaiming = 4096;
  if (discarded_ >= kWorthReclaiming && discarded_ * 2 >= store_.arena.size()) CompactRecords();
}

void TDataSet::CompactRecords() {
  std::string arena;
  size_t live = 0;
  for (const TRowEntry& r : store_.rows)
    live += r.cur_len + (r.has_orig && r.orig != r.cur ? r.orig_len : 0);
  arena.reserve(live);
  for (TRowEntry& r : store_.rows) {
    const uint64_t cur = arena.size();
    arena.append(store_.Current(r));
    if (r.has_orig && r.orig != r.cur) {
      const uint64_t orig = arena.size();
      arena.append(store_.Original(r));
      r.orig = orig;
    } else if (r.has_orig) {
      r.orig = cur;
    }
    r.cur = cur;
  }
  store_.arena.swap(arena);
  ++store_.generation;  // offsets read before are no longer valid
  discarded_ = 0;
}

void TDataSet::EmptyDataSet() {
  CheckActive();
  Cancel();
  CancelAppend();
  store_.Clear();
  discarded_ = 0;
  cur_ = npos;
  bof_ = eof_ = true;
  Invalidate();
}

// ---------------------------------------------------------------------------------------------
// Change log

TUpdateStatus TDataSet::UpdateStatus() const {
  if (state_ == dsInsert) return usInserted;
  if (cur_ == npos) return usUnmodified;
  switch (store_.rows[cur_].state) {
    case TRowState::Modified:
      return usModified;
    case TRowState::Inserted:
      return usInserted;
    case TRowState::Deleted:
      return usDeleted;
    default:
      return usUnmodified;
  }
}

void TDataSet::FilterChanges(TUpdateRecordTypes kinds) {
  filter_ = kinds;
  Invalidate();
  if (Active()) First();
}

const TRowError* TDataSet::RowError() const {
  if (cur_ == npos || state_ == dsInactive) return nullptr;
  const uint32_t e = store_.rows[cur_].error;
  if (e == 0) return nullptr;
  return &store_.errors[e - 1];
}

void TDataSet::SetRowError(std::string message) {
  CheckActive();
  if (cur_ == npos) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  TRowEntry& row = store_.rows[cur_];
  if (row.error) {
    store_.errors[row.error - 1].Message = std::move(message);
  } else {
    store_.errors.push_back(TRowError{std::move(message)});
    row.error = static_cast<uint32_t>(store_.errors.size());
  }
  Invalidate();
}

void TDataSet::ClearRowError() {
  if (cur_ == npos || state_ == dsInactive) return;
  store_.rows[cur_].error = 0;
  Invalidate();
}

int TDataSet::ChangeCount() const {
  int n = 0;
  for (const TRowEntry& r : store_.rows) n += r.state != TRowState::Unmodified ? 1 : 0;
  return n;
}

void TDataSet::CommitUpdates() {
  CheckBrowseMode();
  size_t kept = 0;
  size_t new_cur = npos;
  uint64_t freed = 0;
  for (size_t i = 0; i < store_.rows.size(); ++i) {
    TRowEntry r = store_.rows[i];
    const uint64_t orig_bytes = r.has_orig && r.orig != r.cur ? r.orig_len : 0;
    if (r.state == TRowState::Deleted) {
      freed += r.cur_len + orig_bytes;
      continue;
    }
    freed += orig_bytes;
    r.state = TRowState::Unmodified;
    r.has_orig = false;
    r.orig = r.orig_len = 0;
    r.error = 0;
    if (i == cur_) new_cur = kept;
    store_.rows[kept++] = r;
  }
  store_.rows.resize(kept);
  store_.errors.clear();
  Invalidate();
  cur_ = new_cur != npos ? new_cur : NextVisible(0);
  bof_ = eof_ = cur_ == npos;
  Discard(freed);
}

// ---------------------------------------------------------------------------------------------
// Storage

size_t TDataSet::SavedSize() const {
  return velmora::SavedSize(defs_, store_);
}

void TDataSet::SaveToStream(TMemoryStream& stream) {
  CheckBrowseMode();
  if (stream.Position() == stream.Size()) {
    WriteDataSet(defs_, store_, cached_updates_, stream.Buffer());
    stream.SetPosition(stream.Size());
  } else {
    std::string bytes;
    WriteDataSet(defs_, store_, cached_updates_, bytes);
    stream.Write(bytes.data(), bytes.size());
  }
}

void TDataSet::LoadFromStream(TMemoryStream& stream) {
  const size_t pos = std::min(stream.Position(), stream.Size());
  TStoredDataSet loaded;
  const size_t used = ReadDataSet(stream.View().substr(pos), loaded);
  Close();
  row_charge_.End(store_);  // loaded rows are not a fetched result
  const uint64_t generation = store_.generation + 1;
  defs_ = std::move(loaded.defs);
  store_ = std::move(loaded.store);
  discarded_ = 0;
  store_.generation = generation;
  bool changes = loaded.cached_updates;
  for (const TRowEntry& r : store_.rows) changes = changes || r.state != TRowState::Unmodified;
  if (changes) cached_updates_ = true;
  stream.SetPosition(pos + used);
  state_ = dsBrowse;
  Invalidate();
  First();
}

}  // namespace velmora
