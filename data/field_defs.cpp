#include "data/field_defs.h"

#include "variant/name_fold.h"

namespace velmora {

TFieldDef& TFieldDefs::Add(std::string_view name, TFieldType type, int32_t size, bool required) {
  TFieldDef def;
  def.Name = std::string(name);
  def.DataType = type;
  def.Size = size;
  def.Required = required;
  def.AutoInc = type == ftAutoInc;
  return Add(std::move(def));
}

TFieldDef& TFieldDefs::Add(TFieldDef def) {
  items_.push_back(std::move(def));
  return items_.back();
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (NamesEqual(items_[i].Name, name)) return static_cast<int>(i);
  }
  return -1;
}

const TFieldDef* TFieldDefs::Find(std::string_view name) const {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : &items_[static_cast<size_t>(i)];
}

TFieldDef* TFieldDefs::Find(std::string_view name) {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : &items_[static_cast<size_t>(i)];
}

}  // namespace velmora
