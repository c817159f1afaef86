#include "tools/bench/baseline_run.h"

#include <memory>
#include <random>
#include <stdexcept>

#include "codec/uCompressionStream.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "dbpool/database_pools.h"
#include "dbpool/pooled_object.h"

namespace velmora::bench {
namespace {

// A connection and a query from the pools; declared in this order, the query goes back first.
struct PooledPair {
  PooledPair() {
    if (!connection) throw std::runtime_error("no pooled connection");
    if (!query) throw std::runtime_error("no pooled query");
    query->SetConnection(connection.Get());
  }

  TPooledConnection connection{FDConnectionPool()};
  TPooledQuery query{FDQueryPool()};
};

class BaselineCaller : public Caller {
 public:
  BaselineCaller(Workload w, int thread, int64_t large_rows)
      : workload_(w),
        client_(1000 + thread),
        rows_(RowsPerCall(w, large_rows)),
        rng_(0x5eed + static_cast<uint64_t>(thread)) {}

  CallOutcome Call(int64_t seq) override {
    const std::string sql = CallSql(workload_, rng_, client_, seq);
    PooledPair pair;
    TFDQuery& q = *pair.query;
    CallOutcome o;
    o.rows = rows_;
    if (workload_ == Workload::Insert) {
      pair.connection->StartTransaction();
      try {
        q.Close();
        q.SQL().SetText(sql);
        q.ExecSQL();
      } catch (...) {
        pair.connection->Rollback();
        throw;
      }
      pair.connection->Commit();
      return o;
    }
    q.Close();
    q.SQL().SetText(sql);
    q.Open();
    TMemoryStream stream;
    q.SaveToStream(stream, sfAuto);
    CompressMemoryStream(stream, kPacketSelector);
    OleVariant packet;  // released at the end of the call, as the server's reply is
    MemoryStream2OleVariant(stream, packet);
    q.Close();
    o.bytes = static_cast<int64_t>(packet.ByteData().bytes.size());
    return o;
  }

 private:
  Workload workload_;
  int client_;
  int64_t rows_;
  std::mt19937_64 rng_;
};

}  // namespace

RunResult RunBaseline(Workload w, int threads, double seconds, int64_t large_rows) {
  return RunTimed(threads, seconds, [&](int index) -> std::unique_ptr<Caller> {
    return std::make_unique<BaselineCaller>(w, index, large_rows);
  });
}

}  // namespace velmora::bench
