// TServerModule1: the server class whose published methods clients call. Instances are pooled
// (ServerModulePool) and shared by sessions one after another, so they keep no per-client state:
// every call takes what it needs from its arguments, the database pools and AppPath().
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/memory_budget.h"
#include "common/persistent.h"
#include "dbpool/database_pools.h"
#include "rpc/method_table.h"
#include "rpc/server_module_base.h"
#include "variant/ole_variant.h"

namespace velmora {

// The ErrMsg texts of a call that could not take a pooled object within the pool's time-out.
inline const std::string kNoConnectionMessage = fmt::format(
    "No database connection available: the database could not be opened or all {} connections "
    "are in use",
    kDatabasePoolCapacity);
inline const std::string kNoQueryMessage = fmt::format(
    "No query object available: all {} query objects are in use", kDatabasePoolCapacity);
inline const std::string kNoStoredProcMessage =
    fmt::format("No stored procedure object available: all {} stored procedure objects are in use",
                kDatabasePoolCapacity);
// The most parameter sets one ExecSQLParamSets call may carry.
inline constexpr size_t kMaxParamSets = 100'000;
// The ErrMsg of an UpdateSQL batch that began a transaction and did not end it.
inline constexpr const char* kBatchLeftTransactionMessage =
    "The batch left a transaction open; it was rolled back";

class TServerModule1 : public TDSServerModuleBase, public TComponent {
 public:
  TServerModule1() = default;
  ~TServerModule1() override = default;

  // The published methods, by name (any letter case).
  static const TDSMethodTable& Methods();

  // Query and command methods. ErrMsg is empty on success, the failure's message otherwise.
  OleVariant SQL2OleVariant(const std::string& SQLStr, std::string& ErrMsg);
  void ExecSQL(const std::string& SQLStr, std::string& ErrMsg);
  void UpdateSQL(const OleVariant& SQLList, std::string& ErrMsg);
  double GetServerDateTime();

  // Queries and commands with values bound by the engine, never written into the text
  // (services/bound_calls.cpp). SQLStr holds "?" markers (bound in order) or ":name" markers
  // (bound by name); the values come as packed parameter lists (Params2OleVariant), one value
  // per marker. SQLParams2OleVariant answers as SQL2OleVariant does. ExecSQLParamSets runs the
  // command once per list of the array ParamSets, all in one transaction (all or nothing; ErrMsg
  // names the set that failed), and answers the rows affected in total, RowsPerSet those of each
  // set (an array of Int64 in the order of the sets).
  OleVariant SQLParams2OleVariant(const std::string& SQLStr, const OleVariant& ParamPack,
                                  std::string& ErrMsg);
  int64_t ExecSQLParamSets(const std::string& SQLStr, const OleVariant& ParamSets,
                           OleVariant& RowsPerSet, std::string& ErrMsg);

  // Delta apply: the client's saved dataset with its change log, applied to UpdateTableName.
  // ErrMsg: the refused rows' messages joined without separator; the accepted changes stay.
  // A packet that is not a saved dataset is a remote error.
  void UpdateOleVariant(const std::string& UpdateTableName, const OleVariant& SourceOleVariant,
                        std::string& ErrMsg);
  // Stored procedure call: the parameters of the packed list InPutPack declared with their
  // values; OutPutPack the packed ptOutput parameters after the call (Empty when none); the
  // result the procedure's rows as a result packet when ResultDataSet, else Empty.
  OleVariant StoredProc(const std::string& StoredProcName, const OleVariant& InPutPack,
                        OleVariant& OutPutPack, std::string& ErrMsg, bool ResultDataSet);

  // File transfer through the exchange folder AppPath() + "Upload/".
  bool UploadFile(const OleVariant& FileOV, const std::string& FileName);
  OleVariant DownLoadFile(const std::string& FileName, int32_t& Size);
  int32_t CheckUpload(std::string& FileName, std::string& FileTime, std::string& Size);

  // The file store below AppPath().
  OleVariant ReadData(const std::string& FilePath, const std::string& FileName,
                      std::string& ErrMsg);
  void PostData(const OleVariant& FileOV, const std::string& FilePath, const std::string& FileName,
                std::string& ErrMsg);
  void DeleteData(const std::string& FilePath, const std::string& FileName, std::string& ErrMsg);
};

// The largest result (SQL2OleVariant's and StoredProc's rows as saved) a call may build: the
// smaller of Limits().ResultMax and the largest content whose packet one message can carry. A
// result that would pass it is refused with ResultTooLargeMessage() in ErrMsg while it is fetched.
uint64_t ServerResultLimit();
std::string ResultTooLargeMessage();

// The one limit of files moved by the file methods, both directions: the smaller of
// Limits().UploadMax and the largest file whose packet one message (a frame of the maximum size of
// the transport the call came through, CallerMaxFrameSize()) can carry.
uint64_t ServerTransferLimit();

// Splits the decompressed bytes of an SQL batch packet into its lines: decoded by byte-order mark
// (none: the ANSI code page), split at CR, LF or CR LF; a terminator at the very end adds no empty
// line. Raises EEncodingError when the bytes are not valid text.
std::vector<std::string> SqlBatchLines(std::string_view bytes);

// The lines of an SQL batch packet (UpdateSQL's SQLList bytes), inflated under the memory budget:
// the memory the text takes on its way to lines is charged to `held`, which the caller keeps while
// the lines (and the command text made of them) live. Raises EZDecompressionError for bytes that
// are not a zlib stream, EPacketTooLarge when the text is longer than Limits().UpdateSqlMax,
// EMemoryBudgetExceeded when the budget cannot hold it.
std::vector<std::string> InflateSqlBatch(const std::vector<uint8_t>& packet,
                                         MemoryReservation& held);

}  // namespace velmora
