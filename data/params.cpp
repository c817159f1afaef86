#include "data/params.h"

#include <fmt/format.h>

#include "variant/name_fold.h"

namespace velmora {

TFieldType FieldTypeOfVarType(uint16_t var_type) {
  switch (var_type) {
    case varSmallint:
      return ftSmallint;
    case varInteger:
      return ftInteger;
    case varSingle:
      return ftSingle;
    case varDouble:
      return ftFloat;
    case varCurrency:
      return ftBCD;
    case varDate:
      return ftDateTime;
    case varOleStr:
    case varUString:
      return ftWideString;
    case varBoolean:
      return ftBoolean;
    case varShortInt:
      return ftShortint;
    case varByte:
      return ftByte;
    case varWord:
      return ftWord;
    case varLongWord:
      return ftLongWord;
    case varInt64:
      return ftLargeint;
    case varString:
      return ftString;
    case varSQLTimeStamp:
      return ftTimeStamp;
    case varSQLTimeStampOffset:
      return ftTimeStampOffset;
    case varFMTBcd:
      return ftFMTBcd;
    default:
      return ftUnknown;
  }
}

void TParam::SetValue(OleVariant value) {
  if (DataType == ftUnknown) DataType = FieldTypeOfVarType(value.VarType());
  value_ = std::move(value);
}

TParam& TParams::Add() {
  items_.push_back(std::make_unique<TParam>());
  return *items_.back();
}

TParam& TParams::CreateParam(TFieldType data_type, std::string_view name, TParamType param_type) {
  items_.push_back(std::make_unique<TParam>(std::string(name), data_type, param_type));
  return *items_.back();
}

TParam& TParams::Items(int index) {
  return const_cast<TParam&>(static_cast<const TParams&>(*this).Items(index));
}

const TParam& TParams::Items(int index) const {
  if (index < 0 || index >= Count())
    throw EParamError(fmt::format("List index out of bounds ({})", index));
  return *items_[static_cast<size_t>(index)];
}

TParam* TParams::FindParam(std::string_view name) {
  return const_cast<TParam*>(static_cast<const TParams&>(*this).FindParam(name));
}

const TParam* TParams::FindParam(std::string_view name) const {
  for (const auto& p : items_)
    if (NamesEqual(p->Name, name)) return p.get();
  return nullptr;
}

TParam& TParams::ParamByName(std::string_view name) {
  return const_cast<TParam&>(static_cast<const TParams&>(*this).ParamByName(name));
}

const TParam& TParams::ParamByName(std::string_view name) const {
  const TParam* p = FindParam(name);
  if (p == nullptr) throw EParamError(fmt::format("Parameter '{}' not found", name));
  return *p;
}

void TParams::Assign(const TParams& other) {
  std::vector<std::unique_ptr<TParam>> copy;
  copy.reserve(other.items_.size());
  for (const auto& p : other.items_) copy.push_back(std::make_unique<TParam>(*p));
  items_.swap(copy);
}

}  // namespace velmora
