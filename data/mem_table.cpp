#include "data/mem_table.h"

namespace velmora {

void TFDMemTable::CreateDataSet() {
  if (FieldDefs().Count() == 0) throw EDatabaseError("Cannot create a dataset without fields");
  Close();
  Open();
}

void TFDMemTable::DoOpen() {
  if (FieldDefs().Count() == 0) throw EDatabaseError("Cannot open a dataset without fields");
}

}  // namespace velmora
