// Call round trips over loopback and the compression filter on its own.
#include <benchmark/benchmark.h>

#include <string>

#include "rpc/client_channel.h"
#include "rpc/ds_server.h"

namespace velmora {
namespace {

class TBenchModule : public TDSServerModuleBase {
 public:
  OleVariant Echo(const OleVariant& v) { return v; }
  OleVariant SQL2OleVariant(const std::string& SQLStr, std::string& ErrMsg) {
    ErrMsg.clear();
    return OleVariant::OleStr(SQLStr);
  }
};

struct BenchServer {
  BenchServer() {
    methods.Add("Echo", &TBenchModule::Echo).Add("SQL2OleVariant", &TBenchModule::SQL2OleVariant);
    transport.Port = 0;
    transport.BindAddress = "127.0.0.1";
    server_class.OnGetClass = [this](TDSServerClass&, const TDSMethodTable*& c) { c = &methods; };
    server_class.OnCreateInstance = [this](TDSCreateInstanceEventObject& e) {
      e.ServerClassInstance = &instance;
    };
    server.Transport = &transport;
    server.ServerClass = &server_class;
    server.Start();
  }
  TDSMethodTable methods{"TBenchModule"};
  TBenchModule instance;  // calls come from one client at a time here
  TDSTCPServerTransport transport;
  TDSServerClass server_class;
  TDSServer server;
};

void BM_CallRoundTrip(benchmark::State& state) {
  BenchServer s;
  TDSClientChannel c;
  c.Connect("127.0.0.1", s.transport.BoundPort(), "u", "p");
  const OleVariant arg = OleVariant::OleStr("select * from goods");
  TDSCallResult r;
  for (auto _ : state) {
    c.Call("TBenchModule", "SQL2OleVariant", std::span(&arg, 1), r);
    benchmark::DoNotOptimize(r.Result);
  }
}
BENCHMARK(BM_CallRoundTrip);

void BM_EchoBytes(benchmark::State& state) {
  BenchServer s;
  TDSClientChannel c;
  c.Connect("127.0.0.1", s.transport.BoundPort(), "u", "p");
  std::string data;
  uint32_t x = 1;
  for (int64_t i = 0; i < state.range(0); ++i) {
    x = x * 1103515245u + 12345u;
    data.push_back(static_cast<char>(x >> 24));  // incompressible, like a data packet
  }
  const OleVariant arg = OleVariant::Bytes(data);
  TDSCallResult r;
  for (auto _ : state) {
    c.Call("TBenchModule", "Echo", std::span(&arg, 1), r);
    benchmark::DoNotOptimize(r.Result);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_EchoBytes)->Arg(64 << 10)->Arg(4 << 20);

void BM_SealCompressible(benchmark::State& state) {
  TDSFrameCodec codec(kDefaultCompressMoreThan, kDefaultMaxFrameSize);
  std::string message;
  while (message.size() < static_cast<size_t>(state.range(0)))
    message += "row " + std::to_string(message.size()) + ";";
  std::string frame;
  for (auto _ : state) {
    TDSFrameCodec::Begin(frame);
    frame += message;
    codec.Seal(frame);
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SealCompressible)->Arg(200 << 10);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
