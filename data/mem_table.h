// TFDMemTable: a dataset whose fields the user defines and whose rows live only in memory.
#pragma once

#include "data/dataset.h"

namespace velmora {

class TFDMemTable : public TDataSet {
 public:
  // Opens the table empty with the field definitions given so far. Raises when there are none.
  void CreateDataSet();

 protected:
  void DoOpen() override;
};

}  // namespace velmora
