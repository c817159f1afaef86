#include "db/core/rdbms_dataset.h"

#include "db/core/db_error.h"

namespace velmora {
namespace {

void CheckFormat(TFDStorageFormat format) {
  if (format != sfAuto && format != sfBinary)
    throw EFDException("Storage format is not supported; only BIN is available");
}

}  // namespace

TFDRdbmsDataSet::~TFDRdbmsDataSet() {
  SetConnection(nullptr);
}

TFDConnection* TFDRdbmsDataSet::Connection() const {
  std::lock_guard link(DatasetLinkMutex());
  return connection_;
}

void TFDRdbmsDataSet::SetConnection(TFDConnection* connection) {
  std::lock_guard link(DatasetLinkMutex());
  if (connection == connection_) return;
  if (connection_ != nullptr) connection_->Detach(this);
  connection_ = connection;
  if (connection_ != nullptr) connection_->Attach(this);
}

void TFDRdbmsDataSet::SaveToStream(TMemoryStream& stream, TFDStorageFormat format) {
  CheckFormat(format);
  TDataSet::SaveToStream(stream);
}

void TFDRdbmsDataSet::LoadFromStream(TMemoryStream& stream, TFDStorageFormat format) {
  CheckFormat(format);
  TDataSet::LoadFromStream(stream);
}

TFDConnection& TFDRdbmsDataSet::OpenConnection() {
  TFDConnection* connection = Connection();
  if (connection == nullptr) throw EFDException("Connection is not assigned");
  connection->Open();
  return *connection;
}

void TFDRdbmsDataSet::Run(TDriverCommand& command, bool with_rows) {
  if (!with_rows) {
    command.Execute();
    return;
  }
  if (!command.Open()) throw EFDException("Command text does not return a result set");
  // A pooled query opened again on the same columns keeps its definitions (no copy of each).
  TFieldDefs& defs = FieldDefs();
  if (!(defs == command.Columns())) defs = command.Columns();
  command.FetchAll(*this);
}

}  // namespace velmora
