#include "services/uServerModule.h"

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
#include "db/connection.h"
#include "db/query.h"
#include "db/string_list.h"
#include "db/text_encoding.h"
#include "dbpool/database_pools.h"
#include "rpc/frame_codec.h"
#include "services/files/file_store.h"
#include "services/files/file_transfer.h"
#include "variant/ole_date.h"
#include "variant/ole_variant.h"

namespace velmora {
namespace {

// Failures of a call that could not get its pooled objects; they travel back in ErrMsg.
class EPoolExhausted : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// A connection borrowed from FDConnectionPool() for the length of a call. While it is held, the
// call's cancellation (its client went away) interrupts the statement running on it. When no
// connection could be opened, the call fails with the driver's own message, which is logged too;
// the pool-exhausted text is kept for a pool that had nothing to hand out.
class PooledConnection {
 public:
  PooledConnection() {
    TFDConnectionPool* pool = FDConnectionPool();
    std::string open_error;
    if (pool != nullptr) conn_ = pool->Lock(&open_error);
    if (conn_ == nullptr) {
      if (open_error.empty()) throw EPoolExhausted(kNoConnectionMessage);
      LogServerEvent("Database connection could not be opened: " + open_error);
      throw EPoolExhausted(open_error);
    }
    pool_ = pool;
    TFDConnection* conn = conn_;
    cancel_.emplace([conn] { conn->Interrupt(); });
  }
  ~PooledConnection() {
    cancel_.reset();  // no interrupt may reach the connection once it is back in the pool
    pool_->Unlock(conn_);
  }
  PooledConnection(const PooledConnection&) = delete;
  PooledConnection& operator=(const PooledConnection&) = delete;
  TFDConnection& operator*() const { return *conn_; }
  TFDConnection* operator->() const { return conn_; }

 private:
  TFDConnectionPool* pool_ = nullptr;
  TFDConnection* conn_ = nullptr;
  std::optional<CallStopRegistration> cancel_;
};

// A query borrowed from FDQueryPool() and attached to the call's connection. Declared after the
// PooledConnection, so it goes back first; the pool closes it.
class PooledQuery {
 public:
  explicit PooledQuery(TFDConnection& connection) {
    TFDQueryPool* pool = FDQueryPool();
    if (pool != nullptr) query_ = pool->Lock();
    if (query_ == nullptr) throw EPoolExhausted(kNoQueryMessage);
    pool_ = pool;
    query_->SetConnection(&connection);
  }
  ~PooledQuery() { pool_->UnLock(query_); }
  PooledQuery(const PooledQuery&) = delete;
  PooledQuery& operator=(const PooledQuery&) = delete;
  TFDQuery& operator*() const { return *query_; }
  TFDQuery* operator->() const { return query_; }

 private:
  TFDQueryPool* pool_ = nullptr;
  TFDQuery* query_ = nullptr;
};

}  // namespace

const TDSMethodTable& TServerModule1::Methods() {
  static const TDSMethodTable table = [] {
    using M = TServerModule1;
    TDSMethodTable t("TServerModule1");
    t.Add("SQL2OleVariant", &M::SQL2OleVariant)
        .Add("ExecSQL", &M::ExecSQL)
        .Add("UpdateSQL", &M::UpdateSQL)
        .AddDateTime("GetServerDateTime", &M::GetServerDateTime)
        .Add("UploadFile", &M::UploadFile)
        .Add("DownLoadFile", &M::DownLoadFile)
        .Add("CheckUpload", &M::CheckUpload)
        .Add("ReadData", &M::ReadData)
        .Add("PostData", &M::PostData)
        .Add("DeleteData", &M::DeleteData);
    return t;
  }();
  return table;
}

OleVariant TServerModule1::SQL2OleVariant(const std::string& SQLStr, std::string& ErrMsg) {
  ErrMsg.clear();
  OleVariant result;
  try {
    PooledConnection conn;
    PooledQuery query(*conn);
    try {
      query->Close();
      query->SQL().SetText(SQLStr);
      query->Open();
    } catch (const std::exception& e) {
      ErrMsg = e.what();
      return OleVariant();
    }
    // Failures from here on are not handled: they reach the client as a remote error.
    TMemoryStream stream;
    query->SaveToStream(stream);
    CompressMemoryStream(stream, kPacketSelector);
    MemoryStream2OleVariant(stream, result);
  } catch (const EPoolExhausted& e) {
    ErrMsg = e.what();
    return OleVariant();
  }
  return result;
}

void TServerModule1::ExecSQL(const std::string& SQLStr, std::string& ErrMsg) {
  ErrMsg.clear();
  try {
    PooledConnection conn;
    conn->StartTransaction();  // a failure here is a remote error
    bool committed = false;
    try {
      PooledQuery query(*conn);
      try {
        query->Close();
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
    PooledQuery query(*conn);
    if (!SQLList.IsByteArray()) {
      throw EVariantError("SQLList is not a byte array: " + VarTypeName(SQLList.VarType()));
    }
    // EZDecompressionError, EPacketTooLarge, EMemoryBudgetExceeded: remote errors.
    MemoryReservation held;  // for the text until the batch has run
    std::vector<std::string> lines = InflateSqlBatch(SQLList.ByteData().bytes, held);
    query->SQL().Clear();
    for (std::string& line : lines) query->SQL().Add(std::move(line));
    try {
      query->ExecSQL();
    } catch (const std::exception& e) {
      ErrMsg = e.what();
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

double TServerModule1::GetServerDateTime() {
  return NowAsDateTime();
}

uint64_t ServerTransferLimit() {
  return FileTransferLimit(Limits().UploadMax, kDefaultMaxFrameSize);
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
