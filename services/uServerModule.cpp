#include "services/uServerModule.h"

#include <fmt/format.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "codec/uCompressionStream.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "common/app_path.h"
#include "common/call_stop.h"
#include "common/log_sink.h"
#include "common/memory_budget.h"
#include "common/server_limits.h"
#include "common/velmora_error.h"
#include "data/memory_stream.h"
#include "db/core/connection.h"
#include "db/core/query.h"
#include "db/core/stored_proc.h"
#include "db/core/string_list.h"
#include "db/core/text_encoding.h"
#include "dbpool/database_pools.h"
#include "dbpool/pooled_object.h"
#include "rpc/caller_frame_size.h"
#include "rpc/frame_codec.h"
#include "services/files/file_store.h"
#include "services/files/file_transfer.h"
#include "services/module_calls.h"
#include "variant/ole_date.h"
#include "variant/ole_variant.h"

namespace velmora {
namespace {

// A query or stored-procedure object borrowed for a call and attached to the call's connection.
// Declared after the PooledConnection, it goes back first; the pool closes it.
template <class Pool>
TPooled<Pool> BorrowAttached(Pool* pool, TFDConnection& connection,
                             const std::string& none_message) {
  TPooled<Pool> held(pool);
  if (!held) throw EPoolExhausted(none_message);
  held->SetConnection(&connection);
  return held;
}

TPooledStoredProc BorrowStoredProc(TFDConnection& connection) {
  return BorrowAttached(FDStoredProcPool(), connection, kNoStoredProcMessage);
}

}  // namespace

TPooledQuery BorrowQuery(TFDConnection& connection) {
  return BorrowAttached(FDQueryPool(), connection, kNoQueryMessage);
}

// Makes the next Open of `dataset` fetch its rows under the memory budget and the result limit.
void ChargeResultRows(TFDRdbmsDataSet& dataset) {
  dataset.ChargeRows(ServerResultLimit(), ResultTooLargeMessage());
}

OleVariant ResultPacket(TFDRdbmsDataSet& dataset) {
  MemoryReservation held;
  TMemoryStream stream;
  const bool cached = dataset.CachedUpdates();
  dataset.SetCachedUpdates(false);
  try {
    const uint64_t saved = dataset.SavedSize();
    held.Grow(saved);
    dataset.SaveToStream(stream, sfAuto);
    held.Grow(PacketBound(saved));
  } catch (...) {
    dataset.SetCachedUpdates(cached);
    throw;
  }
  dataset.SetCachedUpdates(cached);
  CompressMemoryStream(stream, kPacketSelector);
  const uint64_t packet = stream.Size();
  held.Shrink(held.Bytes());  // the saved rows and the compressor's buffer are gone
  held.Grow(2 * packet);      // the packet now, the variant and then the reply made of it
  OleVariant result;
  MemoryStream2OleVariant(stream, result);
  KeepUntilCallEnds(std::move(held));
  return result;
}

uint64_t ValueBytes(const OleVariant& value) {
  if (value.IsText()) return value.Text().size();
  if (value.IsByteArray()) return value.ByteData().bytes.size();
  uint64_t bytes = 0;
  if (value.IsVariantArray()) {
    for (const OleVariant& item : value.Array().items) bytes += ValueBytes(item);
  }
  return bytes;
}

namespace {

// The messages of the rows an apply refused, back to back in the order of the rows, with deleted
// rows visible; a failure while walking keeps what was collected.
std::string RefusedRowMessages(TFDQuery& query) {
  std::string messages;
  try {
    query.FilterChanges({rtModified, rtInserted, rtDeleted, rtHasErrors});
    for (query.First(); !query.Eof(); query.Next()) {
      if (const TRowError* error = query.RowError(); error != nullptr) messages += error->Message;
    }
  } catch (const std::exception&) {
  }
  query.FilterChanges(kDefaultFilterChanges);
  return messages;
}

}  // namespace

const TDSMethodTable& TServerModule1::Methods() {
  static const TDSMethodTable table = [] {
    using M = TServerModule1;
    TDSMethodTable t("TServerModule1");
    t.Add("SQL2OleVariant", &M::SQL2OleVariant)
        .Add("ExecSQL", &M::ExecSQL)
        .Add("UpdateSQL", &M::UpdateSQL)
        .Add("SQLParams2OleVariant", &M::SQLParams2OleVariant)
        .Add("ExecSQLParamSets", &M::ExecSQLParamSets)
        .AddDateTime("GetServerDateTime", &M::GetServerDateTime)
        .Add("UpdateOleVariant", &M::UpdateOleVariant)
        .Add("StoredProc", &M::StoredProc)
        .Add("UploadFile", &M::UploadFile)
        .Add("DownLoadFile", &M::DownLoadFile)
        .Add("CheckUpload", &M::CheckUpload)
        .Add("ReadData", &M::ReadData)
        .Add("PostData", &M::PostData)
        .Add("DeleteData", &M::DeleteData);
    // A failure these report in ErrMsg counts as a failed call.
    t.MarkErrorOut({"SQL2OleVariant", "ExecSQL", "UpdateSQL", "SQLParams2OleVariant",
                    "ExecSQLParamSets", "UpdateOleVariant", "StoredProc", "ReadData", "PostData",
                    "DeleteData"});
    return t;
  }();
  return table;
}

OleVariant OpenResult(std::string& ErrMsg, uint64_t text_bytes,
                      const std::function<void(TFDQuery&, TFDConnection&)>& set_text) {
  ErrMsg.clear();
  OleVariant result;
  try {
    PooledConnection conn;
    TPooledQuery query = BorrowQuery(*conn);
    try {
      query->Close();
      CallCommandText text(*query, text_bytes);
      set_text(*query, *conn);
      ChargeResultRows(*query);
      query->Open();
    } catch (const std::exception& e) {
      ErrMsg = e.what();
      return OleVariant();
    }
    // A packet the budget cannot hold is refused in ErrMsg; other failures from here on are not
    // handled: they reach the client as a remote error.
    try {
      result = ResultPacket(*query);
    } catch (const EMemoryBudgetExceeded& e) {
      ErrMsg = e.what();
      return OleVariant();
    }
  } catch (const EPoolExhausted& e) {
    ErrMsg = e.what();
    return OleVariant();
  }
  return result;
}

OleVariant TServerModule1::SQL2OleVariant(const std::string& SQLStr, std::string& ErrMsg) {
  return OpenResult(ErrMsg, SQLStr.size(),
                    [&SQLStr](TFDQuery& query, TFDConnection&) { query.SQL().SetText(SQLStr); });
}

void TServerModule1::ExecSQL(const std::string& SQLStr, std::string& ErrMsg) {
  ErrMsg.clear();
  try {
    PooledConnection conn;
    conn->StartTransaction();  // a failure here is a remote error
    bool committed = false;
    try {
      TPooledQuery query = BorrowQuery(*conn);
      try {
        query->Close();
        CallCommandText text(*query, SQLStr.size());
        query->SQL().SetText(SQLStr);
        query->ExecSQL();
      } catch (const std::exception& e) {
        ErrMsg = e.what();
        // A statement the engine rolled back itself (INSERT OR ROLLBACK, RAISE(ROLLBACK)) has
        // ended the transaction already; rolling back then is not an error.
        conn->Rollback();
        return;
      }
      // The text may have ended the transaction itself (COMMIT, ROLLBACK): nothing to commit then.
      if (conn->InTransaction()) conn->Commit();
      committed = true;
    } catch (...) {
      // No transaction may stay open on a connection that goes back to the pool: a failed
      // commit, or a query pool that handed out nothing, rolls it back.
      if (!committed && conn->InTransaction()) {
        try {
          conn->Rollback();
        } catch (const std::exception&) {
        }
      }
      throw;
    }
  } catch (const EPoolExhausted& e) {
    ErrMsg = e.what();
  }
}

std::vector<std::string> SqlBatchLines(std::string_view bytes) {
  TStringList lines;
  lines.SetText(DecodeText(bytes));
  return lines.Lines();
}

std::vector<std::string> InflateSqlBatch(const std::vector<uint8_t>& packet,
                                         MemoryReservation& held) {
  const std::string bytes =
      InflateToString(std::string_view(reinterpret_cast<const char*>(packet.data()), packet.size()),
                      Limits().UpdateSqlMax, "The SQL batch of UpdateSQL", held);
  // The decoded text, then its lines and the command text joined from them, take about twice
  // what the inflated bytes take (whose charge stays for them once the bytes are gone).
  held.Grow(2 * bytes.size());
  return SqlBatchLines(bytes);
}

void TServerModule1::UpdateSQL(const OleVariant& SQLList, std::string& ErrMsg) {
  ErrMsg.clear();
  try {
    PooledConnection conn;
    TPooledQuery query = BorrowQuery(*conn);
    if (!SQLList.IsByteArray()) {
      throw EVariantError("SQLList is not a byte array: " + VarTypeName(SQLList.VarType()));
    }
    // EZDecompressionError, EPacketTooLarge, EMemoryBudgetExceeded: remote errors.
    MemoryReservation held;  // for the text until the batch has run
    std::vector<std::string> lines = InflateSqlBatch(SQLList.ByteData().bytes, held);
    uint64_t text_bytes = 0;
    for (const std::string& line : lines) text_bytes += line.size() + 1;
    {
      CallCommandText text(*query, text_bytes, std::move(held));
      query->SQL().Clear();
      for (std::string& line : lines) query->SQL().Add(std::move(line));
      try {
        query->ExecSQL();
      } catch (const std::exception& e) {
        ErrMsg = e.what();
      }
    }
    // A batch that begins a transaction must end it: one left open is rolled back here, not kept
    // on the pooled connection, and the client is told its changes since BEGIN are gone.
    if (conn->InTransaction()) {
      conn->Rollback();  // a failure is a remote error; the pool drops the connection then
      if (ErrMsg.empty()) ErrMsg = kBatchLeftTransactionMessage;
    }
  } catch (const EPoolExhausted& e) {
    ErrMsg = e.what();
  }
}

void TServerModule1::UpdateOleVariant(const std::string& UpdateTableName,
                                      const OleVariant& SourceOleVariant, std::string& ErrMsg) {
  ErrMsg.clear();
  try {
    PooledConnection conn;
    TPooledQuery query = BorrowQuery(*conn);
    query->UpdateOptions.UpdateTableName = UpdateTableName;
    // Not a byte array, not a zlib stream, too large or not a saved dataset: remote errors.
    if (!SourceOleVariant.IsByteArray()) {
      throw EVariantError("SourceOleVariant is not a byte array: " +
                          VarTypeName(SourceOleVariant.VarType()));
    }
    const std::vector<uint8_t>& packet = SourceOleVariant.ByteData().bytes;
    MemoryReservation held;  // the inflated bytes, then the rows loaded from them
    {
      TMemoryStream stream{InflateToString(
          std::string_view(reinterpret_cast<const char*>(packet.data()), packet.size()),
          Limits().DeltaMax, "The delta of UpdateOleVariant", held)};
      held.Grow(stream.Size());
      stream.SetPosition(0);
      query->LoadFromStream(stream, sfAuto);
    }
    // Refused rows are marked; a failure of the apply itself is a remote error.
    if (query->ApplyUpdates(-1) > 0) ErrMsg = RefusedRowMessages(*query);
  } catch (const EPoolExhausted& e) {
    ErrMsg = e.what();
  }
}

OleVariant TServerModule1::StoredProc(const std::string& StoredProcName,
                                      const OleVariant& InPutPack, OleVariant& OutPutPack,
                                      std::string& ErrMsg, bool ResultDataSet) {
  OutPutPack = OleVariant();
  ErrMsg.clear();
  OleVariant result;
  try {
    // The name and the parameter values as the call copies them; a refusal is a remote error.
    MemoryReservation held;
    held.Grow(kCommandTextCopies * StoredProcName.size() +
              kParamValueCopies * ValueBytes(InPutPack));
    PooledConnection conn;
    TPooledStoredProc proc = BorrowStoredProc(*conn);
    proc->Close();
    proc->SetStoredProcName(StoredProcName);  // also empties the parameters of the last call
    TParams output;
    {
      TParams input;
      OleVariant2Params(InPutPack, input);  // a malformed entry is a remote error
      for (int i = 0; i < input.Count(); ++i) {
        const TParam& in = input[i];
        proc->Params().CreateParam(in.DataType, in.Name, in.ParamType);
        proc->ParamByName(in.Name).SetValue(in.Value());
        if (in.ParamType == ptOutput) output.CreateParam(in.DataType, in.Name, ptOutput);
      }
    }
    proc->FetchOptions.CursorKind = ckDefault;  // these stay on the pooled object
    proc->FetchOptions.Mode = fmAll;
    try {
      if (ResultDataSet) {
        ChargeResultRows(*proc);
        proc->Open();
        result = ResultPacket(*proc);
      } else {
        proc->ExecProc();
      }
      if (output.Count() > 0) {
        for (int i = 0; i < output.Count(); ++i) {
          output[i].SetValue(proc->ParamByName(output[i].Name).Value());
        }
        Params2OleVariant(output, kAllParamTypes, OutPutPack);
      }
    } catch (const std::exception& e) {
      ErrMsg = e.what();
    }
  } catch (const EPoolExhausted& e) {
    ErrMsg = e.what();
  }
  return result;
}

double TServerModule1::GetServerDateTime() {
  return NowAsDateTime();
}

uint64_t ServerResultLimit() {
  return FileTransferLimit(Limits().ResultMax, kDefaultMaxFrameSize);
}

std::string ResultTooLargeMessage() {
  return fmt::format("The result is larger than the server's limit of {} (ResultMaxMiB)",
                     LimitSizeText(ServerResultLimit()));
}

uint64_t ServerTransferLimit() {
  return FileTransferLimit(Limits().UploadMax, CallerMaxFrameSize());
}

bool TServerModule1::UploadFile(const OleVariant& FileOV, const std::string& FileName) {
  return velmora::UploadFile(AppPath(), FileOV, FileName, ServerTransferLimit());
}

OleVariant TServerModule1::DownLoadFile(const std::string& FileName, int32_t& Size) {
  return velmora::DownLoadFile(AppPath(), FileName, Size, ServerTransferLimit());
}

int32_t TServerModule1::CheckUpload(std::string& FileName, std::string& FileTime,
                                    std::string& Size) {
  return velmora::CheckUpload(AppPath(), FileName, FileTime, Size);
}

OleVariant TServerModule1::ReadData(const std::string& FilePath, const std::string& FileName,
                                    std::string& ErrMsg) {
  return velmora::ReadData(AppPath(), FilePath, FileName, ErrMsg, ServerTransferLimit());
}

void TServerModule1::PostData(const OleVariant& FileOV, const std::string& FilePath,
                              const std::string& FileName, std::string& ErrMsg) {
  velmora::PostData(FileOV, AppPath(), FilePath, FileName, ErrMsg, ServerTransferLimit());
}

void TServerModule1::DeleteData(const std::string& FilePath, const std::string& FileName,
                                std::string& ErrMsg) {
  velmora::DeleteData(AppPath(), FilePath, FileName, ErrMsg);
}

}  // namespace velmora
