// TParams / TParam: ordered, named, typed parameter lists of queries and stored procedures, and
// the lists that cross the remote interface packed into variants.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/velmora_error.h"
#include "data/field_type.h"
#include "variant/ole_variant.h"

namespace velmora {

// Parameter kinds; the ordinal is also the bit number in a kind set.
enum TParamType : uint8_t { ptUnknown = 0, ptInput, ptOutput, ptInputOutput, ptResult };

inline constexpr int kParamTypeCount = 5;

// A kind set: bit k selects kind k.
using TParamTypes = uint8_t;
inline constexpr TParamTypes kAllParamTypes = 0x1F;

constexpr TParamTypes ParamTypeBit(TParamType kind) {
  return static_cast<TParamTypes>(1u << static_cast<unsigned>(kind));
}
constexpr bool ParamTypeIn(TParamType kind, TParamTypes kinds) {
  return static_cast<unsigned>(kind) < 8 && (kinds & ParamTypeBit(kind)) != 0;
}

// Which way a parameter's value travels in a call, the one rule of every engine:
// - sent to the database: ptInput, ptInputOutput and ptUnknown (a parameter nobody gave a kind
//   is an input);
// - received from it: ptOutput, ptInputOutput and ptResult (a result parameter receives the
//   routine's value, as an output does, and is never sent).
// An engine that cannot send and receive the same parameter (no input-output parameters) still
// sends and reads it by this rule; where the value comes from is the engine's own.
constexpr bool IsInputParam(TParamType kind) {
  return kind == ptInput || kind == ptInputOutput || kind == ptUnknown;
}
constexpr bool IsOutputParam(TParamType kind) {
  return kind == ptOutput || kind == ptInputOutput || kind == ptResult;
}

// Raised by TParams look-ups and index access.
class EParamError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// The field type a value of variant type `var_type` gives an untyped parameter; ftUnknown when
// the type has no counterpart.
TFieldType FieldTypeOfVarType(uint16_t var_type);

class TParam {
 public:
  TParam() = default;
  TParam(std::string name, TFieldType data_type, TParamType param_type)
      : Name(std::move(name)), DataType(data_type), ParamType(param_type) {}

  std::string Name;
  TFieldType DataType = ftUnknown;
  TParamType ParamType = ptUnknown;
  int32_t Size = 0;
  int32_t Precision = 0;
  int32_t NumericScale = 0;

  const OleVariant& Value() const { return value_; }
  // Stores the value; a parameter whose DataType is still ftUnknown takes it from the value's
  // variant type. A declared DataType is kept.
  void SetValue(OleVariant value);
  // Unsets the value (Empty); the data type stays.
  void Clear() { value_ = OleVariant(); }
  bool IsNull() const { return value_.IsNull() || value_.IsEmpty(); }

 private:
  OleVariant value_;
};

class TParams {
 public:
  TParams() = default;
  TParams(const TParams& other) { Assign(other); }
  TParams& operator=(const TParams& other) {
    if (this != &other) Assign(other);
    return *this;
  }
  TParams(TParams&&) noexcept = default;
  TParams& operator=(TParams&&) noexcept = default;

  // Appends an unnamed, untyped parameter. References to items stay valid while the list grows.
  TParam& Add();
  TParam& CreateParam(TFieldType data_type, std::string_view name, TParamType param_type);

  int Count() const { return static_cast<int>(items_.size()); }
  // Raises EParamError for an index outside 0..Count()-1.
  TParam& Items(int index);
  const TParam& Items(int index) const;
  TParam& operator[](int index) { return Items(index); }
  const TParam& operator[](int index) const { return Items(index); }

  // The first parameter of that name, letter case folded (NamesEqual, variant/name_fold.h);
  // nullptr when absent.
  TParam* FindParam(std::string_view name);
  const TParam* FindParam(std::string_view name) const;
  // As FindParam, raising "Parameter '<name>' not found" when absent.
  TParam& ParamByName(std::string_view name);
  const TParam& ParamByName(std::string_view name) const;

  void Clear() { items_.clear(); }
  // Replaces the contents with copies of other's parameters.
  void Assign(const TParams& other);
  // Exchanges contents with other without copying parameters.
  void Swap(TParams& other) noexcept { items_.swap(other.items_); }

 private:
  std::vector<std::unique_ptr<TParam>> items_;
};

}  // namespace velmora
