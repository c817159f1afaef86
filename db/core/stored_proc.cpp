#include "db/core/stored_proc.h"

#include <vector>

#include "db/core/db_error.h"

namespace velmora {

void TFDStoredProc::SetStoredProcName(std::string name) {
  name_ = std::move(name);
  params_.Clear();
}

void TFDStoredProc::Call(bool with_rows) {
  TFDConnection& connection = OpenConnection();
  if (name_.empty()) throw EFDException("Stored procedure name is empty");
  std::vector<TParam*> params;
  params.reserve(static_cast<size_t>(params_.Count()));
  for (int i = 0; i < params_.Count(); ++i) params.push_back(&params_[i]);
  std::unique_ptr<TDriverCommand> command = connection.Driver().CreateStoredProc(name_, params);
  Run(*command, with_rows);
}

void TFDStoredProc::ExecProc() {
  Call(false);
}

void TFDStoredProc::DoOpen() {
  Call(true);
}

}  // namespace velmora
