// TFDStoredProc: a call of a stored procedure by name, with declared parameters; Open when it
// returns a result set, ExecProc otherwise. Output values are read back into Params.
#pragma once

#include <string>

#include "db/core/rdbms_dataset.h"

namespace velmora {

class TFDStoredProc : public TFDRdbmsDataSet {
 public:
  const std::string& StoredProcName() const { return name_; }
  // Sets the procedure name and empties Params, also when the name is the same as before.
  void SetStoredProcName(std::string name);

  // Calls the procedure without a result set. Raises when the driver has no stored procedures
  // (SQLite) or the engine refuses the call.
  void ExecProc();
  // Open (TDataSet::Open) calls the procedure and fetches its whole result set.

 protected:
  void DoOpen() override;

 private:
  void Call(bool with_rows);

  std::string name_;
};

}  // namespace velmora
