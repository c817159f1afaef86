// TFieldDef / TFieldDefs: the structure of a dataset, one definition per column, in column order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/velmora_error.h"
#include "data/field_type.h"

namespace velmora {

// Raised by datasets and fields: wrong state, unknown field, a value the field cannot hold.
class EDatabaseError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int32_t Size = 0;  // characters of a text field, bytes of a fixed binary field
  int32_t Precision = 0;
  int32_t Scale = 0;
  bool Required = false;
  bool ReadOnly = false;
  bool InKey = false;  // part of the row's key, used to find the row when changes are applied
  bool AutoInc = false;
  std::string OriginTable;
  std::string OriginColumn;

  bool operator==(const TFieldDef&) const = default;
};

class TFieldDefs {
 public:
  // Appends a definition; references to earlier items may be invalidated.
  TFieldDef& Add(std::string_view name, TFieldType type, int32_t size = 0, bool required = false);
  TFieldDef& Add(TFieldDef def);
  void Clear() { items_.clear(); }

  int Count() const { return static_cast<int>(items_.size()); }
  // Index of the first definition with that name, letter case folded (NamesEqual,
  // variant/name_fold.h); -1 when there is none.
  int IndexOf(std::string_view name) const;
  const TFieldDef* Find(std::string_view name) const;
  TFieldDef* Find(std::string_view name);

  // Unchecked index access (0 <= index < Count()).
  const TFieldDef& operator[](int index) const { return items_[static_cast<size_t>(index)]; }
  TFieldDef& operator[](int index) { return items_[static_cast<size_t>(index)]; }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  bool operator==(const TFieldDefs&) const = default;

 private:
  std::vector<TFieldDef> items_;
};

}  // namespace velmora
