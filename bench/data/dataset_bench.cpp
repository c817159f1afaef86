// Save and load of a 100,000-row mixed-type dataset, against zlib compressing the saved bytes.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <string>

#include "data/dataset.h"
#include "variant/ole_date.h"

namespace velmora {
namespace {

constexpr int kRows = 100000;

void Define(TDataSet& ds) {
  ds.FieldDefs().Add("ID", ftInteger);
  ds.FieldDefs().Add("Big", ftLargeint);
  ds.FieldDefs().Add("Price", ftFloat);
  ds.FieldDefs().Add("Name", ftString, 40);
  ds.FieldDefs().Add("Stamp", ftDateTime);
  ds.FieldDefs().Add("Note", ftString, 40);
  ds.FieldDefs().Add("Thumb", ftBlob);
}

// Appends the rows the way a driver does.
void Fill(TDataSet& ds) {
  const double base = EncodeDateTime({2024, 1, 1, 0, 0, 0, 0});
  char blob[32];
  for (int i = 0; i < kRows; ++i) {
    RecordAppender& a = ds.BeginAppend();
    a.AppendInt64(i);
    a.AppendInt64(int64_t{i} * 7919 * 1000003);
    a.AppendDouble(i * 0.25);
    const std::string name = "customer-name-" + std::to_string(100000 + i);  // ~20 characters
    a.AppendText(name);
    a.AppendDouble(base + i / 86400.0);
    if (i % 3 == 0) {
      a.AppendNull();
    } else {
      a.AppendText("note " + std::to_string(i));
    }
    for (size_t k = 0; k < sizeof blob; ++k) blob[k] = static_cast<char>(i + k * 31);
    a.AppendBytes(std::string_view(blob, 16 + i % 16));
    ds.EndAppend();
  }
}

const std::string& SavedBytes() {
  static const std::string bytes = [] {
    TDataSet ds;
    Define(ds);
    ds.Open();
    Fill(ds);
    TMemoryStream s;
    ds.SaveToStream(s);
    return s.Buffer();
  }();
  return bytes;
}

void Report(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kRows,
                                                benchmark::Counter::kIsRate);
  state.counters["saved_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_AppendRows(benchmark::State& state) {
  for (auto _ : state) {
    TDataSet ds;
    Define(ds);
    ds.Open();
    Fill(ds);
    benchmark::DoNotOptimize(ds.RecordCount());
  }
  Report(state, SavedBytes().size());
}
BENCHMARK(BM_AppendRows)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& state) {
  TDataSet ds;
  Define(ds);
  ds.Open();
  Fill(ds);
  TMemoryStream s;
  for (auto _ : state) {
    s.Clear();
    ds.SaveToStream(s);
    benchmark::DoNotOptimize(s.Data());
  }
  Report(state, s.Size());
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

void BM_Load(benchmark::State& state) {
  TMemoryStream s(SavedBytes());
  for (auto _ : state) {
    TDataSet ds;
    s.SetPosition(0);
    ds.LoadFromStream(s);
    benchmark::DoNotOptimize(ds.RecordCount());
  }
  Report(state, SavedBytes().size());
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// Walking every row and reading every field, as the client does with a loaded result.
void BM_LoadAndRead(benchmark::State& state) {
  TMemoryStream s(SavedBytes());
  for (auto _ : state) {
    TDataSet ds;
    s.SetPosition(0);
    ds.LoadFromStream(s);
    int64_t sum = 0;
    for (ds.First(); !ds.Eof(); ds.Next())
      for (int f = 0; f < ds.FieldCount(); ++f) sum += ds.FieldValue(f).VarType();
    benchmark::DoNotOptimize(sum);
  }
  Report(state, SavedBytes().size());
}
BENCHMARK(BM_LoadAndRead)->Unit(benchmark::kMillisecond);

// For comparison: zlib level 6 over the same saved bytes (what every result packet goes through).
void BM_ZlibCompressSaved(benchmark::State& state) {
  const std::string& in = SavedBytes();
  std::string out;
  uLongf out_len = 0;
  for (auto _ : state) {
    out.resize(compressBound(in.size()));
    out_len = static_cast<uLongf>(out.size());
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &out_len,
                  reinterpret_cast<const Bytef*>(in.data()), in.size(), 6) != Z_OK)
      state.SkipWithError("compress2 failed");
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, in.size());
  state.counters["compressed_MB"] = static_cast<double>(out_len) / 1e6;
}
BENCHMARK(BM_ZlibCompressSaved)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
