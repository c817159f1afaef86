// TVelmoraClient: one connection to a Velmora server and typed calls of the published methods of
// its server module. One client belongs to one thread at a time; use one client per thread.
//
// Failures: Connect raises EDSLoginError (the server's refusal text) or EDSConnectionError; every
// call raises EDSRemoteError when the server fails it (the client stays usable). Handled failures
// come back in `errMsg`, empty on success.
//
// Dropped connections (client/reconnect_rules.h): a call that finds its connection gone first
// reconnects and logs in again, with back-off over the addresses given to Connect; when that
// fails it raises EDSConnectionError (or EDSLoginError) without having sent anything. A call whose
// reply was lost raises EDSOutcomeUnknown, a kind of EDSConnectionError: it may have run, and it
// is sent again only when it cannot change data and the rules allow it. The connection is
// checked for a close by the server before every call, so a call is not sent into a connection
// the server had already dropped. Close() ends reconnecting until the next Connect.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/reconnect_rules.h"
#include "client/server_address.h"
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

  // One server with the default rules. `tls`: see TDSTlsClientSettings (off by default).
  void Connect(const std::string& host, uint16_t port, const std::string& user,
               const std::string& password, const TDSTlsClientSettings& tls = {});
  // Connects to the first server of `servers` that admits the login, trying each once in the
  // rules' order (no back-off here: a server that is down is reported at once). Later calls
  // reconnect to any of them as the rules say. Raises EDSLoginError when a server refuses the
  // login, EDSConnectionError naming every address when none can be reached, and
  // std::invalid_argument for an empty list.
  void Connect(const std::vector<TServerAddress>& servers, const std::string& user,
               const std::string& password, const TDSTlsClientSettings& tls = {},
               TReconnectRules rules = {});
  void Close();
  bool Connected() const { return channel_.Connected(); }
  // "host:port" of the server connected to last.
  const std::string& Server() const { return channel_.Peer(); }
  // How many times a call has reconnected since Connect.
  int Reconnects() const { return reconnects_; }
  // From another thread while this client's thread waits for a reply: the waiting call fails with
  // EDSOutcomeUnknown, is never sent again, and the connection is closed (see
  // TDSClientChannel::Interrupt).
  void Interrupt() { channel_.Interrupt(); }

  // --- Query and command methods ---
  // A result packet (see ReadResultPacket), or an empty value with errMsg set. The statement may
  // change data, so a lost reply is never sent again.
  OleVariant SQL2OleVariant(const std::string& sql, std::string& errMsg);
  // The same; with TCallSafety::ReadOnly the caller promises the statement changes nothing, and a
  // lost reply is sent again when the rules' RetryReads is on.
  OleVariant SQL2OleVariant(const std::string& sql, std::string& errMsg, TCallSafety safety);
  void ExecSQL(const std::string& sql, std::string& errMsg);
  // sqlList: a packet of SQL lines (CompressToPacket of the text).
  void UpdateSQL(const OleVariant& sqlList, std::string& errMsg);
  // With values bound by the server's engine, never written into the text: `params` in the
  // order of the text's "?" markers, or named as its ":name" markers; each value travels with
  // its DataType (one left ftUnknown takes its value's type). The same result as SQL2OleVariant;
  // never sent again when a reply is lost.
  OleVariant SQLParams2OleVariant(const std::string& sql, const TParams& params,
                                  std::string& errMsg);
  // The command once for each list of `sets`, all in one transaction: all applied, or none and
  // errMsg names the set that failed. The rows affected in total; `rowsPerSet` those of each set
  // (empty on failure).
  int64_t ExecSQLParamSets(const std::string& sql, std::span<const TParams> sets,
                           std::vector<int64_t>& rowsPerSet, std::string& errMsg);
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

  // Any method of the server module, untyped. It reconnects before sending like the others, but a
  // lost reply is never sent again.
  TDSCallResult Call(std::string_view method, std::span<const OleVariant> args);

 private:
  enum class TResend { Never, IfReadsMayRetry };
  TDSCallResult Invoke(std::string_view method, std::span<const OleVariant> args, TResend resend);
  // Reconnects when the connection is gone; raises when it cannot.
  void EnsureConnected();
  // Tries each address once in the rules' order. Records each address's failure in failures_.
  bool TryEachServer();
  // Reconnects with back-off; raises EDSConnectionError naming the addresses when it gives up.
  void Reconnect();
  // The message when no address could be reached: each address with its last error.
  std::string UnreachableText(int attempts, std::chrono::milliseconds spent) const;

  TDSClientChannel channel_;
  std::vector<TServerAddress> servers_;  // empty: never connected, or closed by the caller
  std::string user_, password_;
  TReconnectRules rules_;
  std::vector<std::string> failures_;  // per address of servers_, its last error; "" if untried
  std::string last_failure_;
  int reconnects_ = 0;
  std::minstd_rand random_;  // seeded by Connect when the order is random
};

}  // namespace velmora
