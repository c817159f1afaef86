#include "codec/uMemoryStream2OLEVariant.h"

#include <fmt/format.h>

namespace velmora {

namespace {

// Packed entry layout.
enum PackedIndex : int32_t {
  kName = 0,
  kValue,
  kDataType,
  kParamType,
  kSize,
  kPrecision,
  kNumericScale,
  kEntryLength
};

OleVariant PackedValue(const OleVariant& v) {
  if (v.IsCustom()) return OleVariant::OleStr(v.AsString());
  if (v.IsText() && v.VarType() != varOleStr) return OleVariant::OleStr(v.Text());
  return v;
}

OleVariant PackParam(const TParam& p) {
  VariantArray entry;
  entry.items.reserve(kEntryLength);
  entry.items.emplace_back(OleVariant::OleStr(p.Name));
  entry.items.emplace_back(PackedValue(p.Value()));
  entry.items.emplace_back(static_cast<int8_t>(p.DataType));
  entry.items.emplace_back(static_cast<int8_t>(p.ParamType));
  entry.items.emplace_back(p.Size);
  entry.items.emplace_back(p.Precision);
  entry.items.emplace_back(p.NumericScale);
  return OleVariant(std::move(entry));
}

TFieldType FieldTypeFromEntry(const OleVariant& v) {
  const int32_t code = v.AsInteger();
  if (code < 0 || code >= kFieldTypeCount)
    throw EVariantError(fmt::format("Field type code {} is out of range", code));
  return static_cast<TFieldType>(code);
}

TParamType ParamTypeFromEntry(const OleVariant& v) {
  const int32_t code = v.AsInteger();
  if (code < 0 || code >= kParamTypeCount)
    throw EVariantError(fmt::format("Parameter kind {} is out of range", code));
  return static_cast<TParamType>(code);
}

// Reads one packed entry; elements are taken relative to the entry's lower bound.
void UnpackParam(const OleVariant& entry, size_t index, TParam& p) {
  if (!entry.IsVariantArray())
    throw EVariantError(
        fmt::format("Invalid packed parameter {}: variant of type ({}) is not an array of variants",
                    index, VarTypeName(entry.VarType())));
  const auto& items = entry.Array().items;
  const size_t n = items.size();
  if (n < 2)
    throw EVariantError(
        fmt::format("Invalid packed parameter {}: variant array index out of bounds", index));
  p.Name = items[kName].AsString();
  if (n > kDataType) p.DataType = FieldTypeFromEntry(items[kDataType]);
  if (n > kParamType) p.ParamType = ParamTypeFromEntry(items[kParamType]);
  if (n > kSize) p.Size = items[kSize].AsInteger();
  if (n > kPrecision) p.Precision = items[kPrecision].AsInteger();
  if (n > kNumericScale) p.NumericScale = items[kNumericScale].AsInteger();
  // Last, so that a declared data type survives and an undeclared one follows the value.
  p.SetValue(items[kValue]);
}

}  // namespace

void MemoryStream2OleVariant(const TMemoryStream& stream, OleVariant& out) {
  out = OleVariant::Bytes(stream.View());
}

void MemoryStream2OleVariant(TMemoryStream& stream, OleVariant& out) {
  MemoryStream2OleVariant(static_cast<const TMemoryStream&>(stream), out);
  stream.SetPosition(stream.Size());
}

std::unique_ptr<TMemoryStream> OleVariant2MemoryStream(const OleVariant& value) noexcept {
  if (!value.IsByteArray()) return nullptr;
  try {
    const auto& bytes = value.ByteData().bytes;
    auto stream = std::make_unique<TMemoryStream>(std::string(bytes.begin(), bytes.end()));
    stream->SetPosition(stream->Size());
    return stream;
  } catch (...) {
    return nullptr;
  }
}

void Params2OleVariant(const TParams& params, TParamTypes kinds, OleVariant& out) {
  out = OleVariant::Null();
  int32_t count = 0;
  for (int i = 0; i < params.Count(); ++i)
    if (ParamTypeIn(params[i].ParamType, kinds)) ++count;
  if (count == 0) return;

  VariantArray packed;
  packed.items.reserve(static_cast<size_t>(count));
  for (int i = 0; i < params.Count(); ++i)
    if (ParamTypeIn(params[i].ParamType, kinds)) packed.items.push_back(PackParam(params[i]));
  out = OleVariant(std::move(packed));
}

void OleVariant2Params(const OleVariant& packed, TParams& params) {
  if (!packed.IsVariantArray()) return;
  const auto& entries = packed.Array().items;
  if (entries.empty() || !entries.front().IsArray()) return;

  TParams read;
  for (size_t i = 0; i < entries.size(); ++i) UnpackParam(entries[i], i, read.Add());
  params.Swap(read);
}

}  // namespace velmora
