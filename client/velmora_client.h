// TVelmoraClient: one connection to a Velmora server and typed calls of the published methods of
// its server module. One client belongs to one thread at a time; use one client per thread.
//
// Failures: Connect raises EDSLoginError (the server's refusal text) or EDSConnectionError; every
// call raises EDSRemoteError when the server fails it (the client stays usable) and
// EDSConnectionError when the connection breaks. Handled failures come back in `errMsg`, empty on
// success.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "codec/packets.h"
#include "common/service_defaults.h"
#include "data/dataset.h"
#include "data/params.h"
#include "rpc/client_channel.h"
#include "rpc/rpc_errors.h"
#include "variant/ole_variant.h"

namespace velmora {

inline constexpr std::string_view kServerModuleClass = "TServerModule1";

class TVelmoraClient {
 public:
  TVelmoraClient() = default;

  // `tls`: see TDSTlsClientSettings (off by default).
  void Connect(const std::string& host, uint16_t port, const std::string& user,
               const std::string& password, const TDSTlsClientSettings& tls = {});
  void Close() { channel_.Close(); }
  bool Connected() const { return channel_.Connected(); }
  // From another thread while this client's thread waits for a reply: the waiting call fails with
  // EDSConnectionError and the connection is closed (see TDSClientChannel::Interrupt).
  void Interrupt() { channel_.Interrupt(); }

  // --- Query and command methods ---
  // A result packet (see ReadResultPacket), or an empty value with errMsg set.
  OleVariant SQL2OleVariant(const std::string& sql, std::string& errMsg);
  void ExecSQL(const std::string& sql, std::string& errMsg);
  // sqlList: a packet of SQL lines (CompressToPacket of the text).
  void UpdateSQL(const OleVariant& sqlList, std::string& errMsg);
  // The server's local date and time (days since 1899-12-30).
  double GetServerDateTime();

  // --- Delta apply and stored procedures ---
  // sourceOleVariant: a delta packet (WriteDeltaPacket of a table edited with its change log on;
  // client/delta_edit.h). errMsg: the refused rows' messages back to back; accepted rows stay.
  void UpdateOleVariant(const std::string& updateTableName, const OleVariant& sourceOleVariant,
                        std::string& errMsg);
  // The edit path's last step: the table's delta sent to `updateTableName`.
  void ApplyUpdates(TDataSet& table, const std::string& updateTableName, std::string& errMsg);
  // inPutPack: a packed parameter list (Params2OleVariant). outPutPack: the packed ptOutput
  // parameters after the call, or Empty. The result: a result packet when resultDataSet, else
  // Empty; on failure errMsg is set and both are Empty.
  OleVariant StoredProc(const std::string& storedProcName, const OleVariant& inPutPack,
                        OleVariant& outPutPack, std::string& errMsg, bool resultDataSet);
  // The same with parameter lists: `params` declared in order; afterwards the ptOutput ones hold
  // the values the procedure gave them (the others keep theirs); one declared ftUnknown takes the
  // data type the server packed.
  OleVariant StoredProc(const std::string& storedProcName, TParams& params, std::string& errMsg,
                        bool resultDataSet);

  // --- Exchange folder ---
  // fileOV: a packet of the file's bytes. True when the server wrote the file.
  bool UploadFile(const OleVariant& fileOV, const std::string& fileName);
  // A packet of the file's bytes, or Null when there is no such file (size then left as it was).
  OleVariant DownLoadFile(const std::string& fileName, int32_t& size);
  // The number of files; names, times ("YYYYMMDDHHNN") and sizes joined by "|".
  int32_t CheckUpload(std::string& fileName, std::string& fileTime, std::string& size);

  // --- File store below the server's folder (plain byte arrays) ---
  // The file's bytes as a byte array, Null for no such file, Empty with errMsg set on failure.
  OleVariant ReadData(const std::string& filePath, const std::string& fileName,
                      std::string& errMsg);
  void PostData(const OleVariant& fileOV, const std::string& filePath, const std::string& fileName,
                std::string& errMsg);
  void DeleteData(const std::string& filePath, const std::string& fileName, std::string& errMsg);

  // Any method of the server module, untyped.
  TDSCallResult Call(std::string_view method, std::span<const OleVariant> args);

 private:
  TDSClientChannel channel_;
};

}  // namespace velmora
