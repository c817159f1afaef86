#include "tools/bench/network_run.h"

#include <memory>
#include <random>
#include <stdexcept>

#include "client/velmora_client.h"
#include "codec/packets.h"
#include "data/mem_table.h"

namespace velmora::bench {
namespace {

// Raises with the server's ErrMsg when the call reported one.
void CheckErrMsg(const std::string& err_msg) {
  if (!err_msg.empty()) throw std::runtime_error(err_msg);
}

int64_t DecodedRowCount(const OleVariant& packet) {
  TFDMemTable table;
  ReadResultPacket(packet, table);
  return table.RecordCount();
}

class NetworkCaller : public Caller {
 public:
  NetworkCaller(const ServerAddress& server, Workload w, int client, int64_t large_rows)
      : workload_(w),
        client_id_(client),
        rows_(RowsPerCall(w, large_rows)),
        rng_(0x5eed + static_cast<uint64_t>(client)),
        server_(server) {
    if (workload_ != Workload::Connect) {
      connection_.Connect(server.servers, server.user, server.password, {}, server.rules);
    }
  }

  CallOutcome Call(int64_t seq) override {
    if (workload_ == Workload::Connect) {
      TVelmoraClient once;  // disconnects when it goes
      once.Connect(server_.servers, server_.user, server_.password, {}, server_.rules);
      once.GetServerDateTime();
      return CallOutcome{};
    }
    const std::string sql = CallSql(workload_, rng_, client_id_, seq);
    CallOutcome o;
    o.rows = rows_;
    if (workload_ == Workload::Insert) {
      connection_.ExecSQL(sql, err_msg_);
      CheckErrMsg(err_msg_);
      return o;
    }
    // The read workloads only select, so they may be resent after a lost reply when allowed.
    const OleVariant packet = connection_.SQL2OleVariant(sql, err_msg_, TCallSafety::ReadOnly);
    CheckErrMsg(err_msg_);
    if (!packet.IsByteArray()) throw std::runtime_error("the result is not a data packet");
    o.bytes = static_cast<int64_t>(packet.ByteData().bytes.size());
    return o;
  }

 private:
  Workload workload_;
  int client_id_;
  int64_t rows_;
  std::mt19937_64 rng_;
  ServerAddress server_;
  TVelmoraClient connection_;
  std::string err_msg_;
};

}  // namespace

int64_t PrepareWorkload(const ServerAddress& server, Workload w) {
  TVelmoraClient client;
  client.Connect(server.servers, server.user, server.password, {}, server.rules);
  std::string err_msg;
  if (w == Workload::Connect) return 0;
  if (w == Workload::Insert) {
    client.ExecSQL(CreateInsertTableSql(), err_msg);
    CheckErrMsg(err_msg);
    return 1;
  }
  std::mt19937_64 rng(1);
  const OleVariant packet = client.SQL2OleVariant(CallSql(w, rng, 0, 0), err_msg);
  CheckErrMsg(err_msg);
  return DecodedRowCount(packet);
}

RunResult RunNetwork(const ServerAddress& server, Workload w, int clients, double seconds,
                     int64_t large_rows) {
  return RunTimed(clients, seconds, [&](int index) -> std::unique_ptr<Caller> {
    return std::make_unique<NetworkCaller>(server, w, index, large_rows);
  });
}

}  // namespace velmora::bench
