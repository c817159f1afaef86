// Packet compression against plain zlib on the same bytes: the codec should cost what zlib costs.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>

#include "codec/uCompressionStream.h"

namespace velmora {
namespace {

// ~8 MB: three quarters text-like rows, one quarter random bytes (as saved blobs would be).
const std::string& Mixed() {
  static const std::string data = [] {
    std::mt19937 rng(42);
    std::string s;
    const size_t n = size_t{8} << 20;
    s.reserve(n);
    while (s.size() < n * 3 / 4) {
      s += "row ";
      s += std::to_string(rng() % 100000);
      s += "\tcustomer-";
      s += std::to_string(rng() % 5000);
      s += "\t2024-03-0";
      s += static_cast<char>('1' + rng() % 9);
      s += "\tstatus=OK\n";
    }
    while (s.size() < n) s += static_cast<char>(rng());
    return s;
  }();
  return data;
}

const std::string& Packed() {
  static const std::string packed = [] {
    TMemoryStream m(Mixed());
    CompressMemoryStream(m, kPacketSelector);
    return m.Buffer();
  }();
  return packed;
}

void BM_CompressMemoryStream(benchmark::State& state) {
  const std::string& in = Mixed();
  for (auto _ : state) {
    state.PauseTiming();
    TMemoryStream m(in);
    state.ResumeTiming();
    CompressMemoryStream(m, kPacketSelector);
    benchmark::DoNotOptimize(m.Data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(Packed().size()) / static_cast<double>(in.size());
}

void BM_ZlibCompress2(benchmark::State& state) {
  const std::string& in = Mixed();
  std::string out(compressBound(static_cast<uLong>(in.size())), '\0');
  for (auto _ : state) {
    uLongf n = static_cast<uLongf>(out.size());
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(in.data()),
              static_cast<uLong>(in.size()), Z_DEFAULT_COMPRESSION);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_DecompressMemoryStream(benchmark::State& state) {
  const std::string& packed = Packed();
  for (auto _ : state) {
    state.PauseTiming();
    TMemoryStream m(packed);
    state.ResumeTiming();
    DecompressMemoryStream(m);
    benchmark::DoNotOptimize(m.Data());
  }
  // Throughput counted in uncompressed bytes for both decompressors.
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Mixed().size()));
}

void BM_ZlibUncompress(benchmark::State& state) {
  const std::string& packed = Packed();
  std::string out(Mixed().size(), '\0');
  for (auto _ : state) {
    uLongf n = static_cast<uLongf>(out.size());
    uncompress(reinterpret_cast<Bytef*>(out.data()), &n,
               reinterpret_cast<const Bytef*>(packed.data()), static_cast<uLong>(packed.size()));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Mixed().size()));
}

BENCHMARK(BM_CompressMemoryStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCompress2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecompressMemoryStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
