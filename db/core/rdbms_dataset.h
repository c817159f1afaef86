// TFDRdbmsDataSet: what queries and stored procedures share: the connection they run on, their
// parameters, fetch options and the storage-format entry points.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "data/dataset.h"
#include "data/params.h"
#include "db/core/connection.h"

namespace velmora {

enum TFDStorageFormat : uint8_t { sfAuto, sfXML, sfBinary, sfJSON };
enum TFDCursorKind : uint8_t { ckAutomatic, ckDefault, ckDynamic, ckStatic, ckForwardOnly };
enum TFDFetchMode : uint8_t { fmOnDemand, fmAll, fmManual, fmExactRecsMax };

// Every fetch reads all rows at once; the options are kept for the callers that set them.
struct TFDFetchOptions {
  TFDCursorKind CursorKind = ckAutomatic;
  TFDFetchMode Mode = fmOnDemand;
};

class TFDRdbmsDataSet : public TDataSet, public TFDConnectionClient {
 public:
  TFDRdbmsDataSet() = default;
  ~TFDRdbmsDataSet() override;

  TFDConnection* Connection() const;
  // Attaches to `connection` (nullptr: to none); the connection detaches this dataset when it
  // closes or is destroyed.
  void SetConnection(TFDConnection* connection);

  TParams& Params() { return params_; }
  TParam& ParamByName(std::string_view name) { return params_.ParamByName(name); }

  // sfAuto and sfBinary write and read the "BIN" format; the others raise.
  using TDataSet::LoadFromStream;
  using TDataSet::SaveToStream;
  void SaveToStream(TMemoryStream& stream, TFDStorageFormat format);
  void LoadFromStream(TMemoryStream& stream, TFDStorageFormat format);

  TFDFetchOptions FetchOptions;
  int Tag = 0;

  void ConnectionDetached() override { connection_ = nullptr; }

 protected:
  // The attached connection, opened when needed; raises when there is none.
  TFDConnection& OpenConnection();
  // Runs `command` and, when `with_rows`, fetches its whole result set into this dataset.
  // Raises "Command text does not return a result set" when rows are wanted and there are none.
  void Run(TDriverCommand& command, bool with_rows);

  TParams params_;

 private:
  TFDConnection* connection_ = nullptr;
};

}  // namespace velmora
