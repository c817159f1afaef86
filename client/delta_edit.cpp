#include "client/delta_edit.h"

#include <vector>

#include "codec/packets.h"
#include "common/velmora_error.h"

namespace velmora {

void LoadForEditing(const OleVariant& result_packet, TFDMemTable& table) {
  ReadResultPacket(result_packet, table);
  table.SetCachedUpdates(true);
}

void SetKeyFields(TDataSet& table, std::span<const std::string> names) {
  TFieldDefs& defs = table.FieldDefs();
  std::vector<bool> key(static_cast<size_t>(defs.Count()), false);
  for (const std::string& name : names) {
    const int index = table.FieldByName(name).Index();  // raises for an unknown name
    key[static_cast<size_t>(index)] = true;
  }
  for (int i = 0; i < defs.Count(); ++i) defs[i].InKey = key[static_cast<size_t>(i)];
}

void SetKeyFields(TDataSet& table, std::initializer_list<std::string> names) {
  SetKeyFields(table, std::span<const std::string>(names.begin(), names.size()));
}

}  // namespace velmora
