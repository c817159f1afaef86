// Looking fields and parameters up by name, as a driver or a published method does once per value:
// a 20-column dataset whose names share prefixes, and a 6-column one with German and Greek names,
// each searched for every column with the name written in other letter case.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "data/dataset.h"
#include "data/params.h"

namespace velmora {
namespace {

struct Name {
  std::string declared;
  std::string asked;
};

const std::vector<Name> kAsciiNames = {
    {"CUSTOMER_ID", "customer_id"},
    {"CUSTOMER_NAME", "customer_name"},
    {"CUSTOMER_CITY", "customer_city"},
    {"ORDER_ID", "order_id"},
    {"ORDER_DATE", "order_date"},
    {"ORDER_TOTAL", "order_total"},
    {"ORDER_STATUS", "order_status"},
    {"ITEM_ID", "item_id"},
    {"ITEM_NAME", "item_name"},
    {"ITEM_PRICE", "item_price"},
    {"ITEM_QUANTITY", "item_quantity"},
    {"CREATED_AT", "created_at"},
    {"CREATED_BY", "created_by"},
    {"UPDATED_AT", "updated_at"},
    {"UPDATED_BY", "updated_by"},
    {"NOTE", "note"},
    {"AMOUNT", "amount"},
    {"CURRENCY", "currency"},
    {"IS_DELETED", "is_deleted"},
    {"VERSION", "version"},
};

// ÄNDERUNGSDATUM, ÄNDERUNGSGRUND, GRÖSSE, ÄRZTIN, ΟΝΟΜΑ, MENGE
const std::vector<Name> kUnicodeNames = {
    {"\xC3\x84NDERUNGSDATUM", "\xC3\xA4nderungsdatum"},
    {"\xC3\x84NDERUNGSGRUND", "\xC3\xA4nderungsgrund"},
    {"GR\xC3\x96SSE", "gr\xC3\xB6sse"},
    {"\xC3\x84RZTIN", "\xC3\xA4rztin"},
    {"\xCE\x9F\xCE\x9D\xCE\x9F\xCE\x9C\xCE\x91", "\xCE\xBF\xCE\xBD\xCE\xBF\xCE\xBC\xCE\xB1"},
    {"MENGE", "menge"},
};

void Report(benchmark::State& state, size_t per_iteration) {
  state.counters["lookups/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * per_iteration), benchmark::Counter::kIsRate);
}

void LookUpFields(benchmark::State& state, const std::vector<Name>& names) {
  TDataSet ds;
  for (const Name& n : names) ds.FieldDefs().Add(n.declared, ftInteger);
  ds.Open();
  for (auto _ : state) {
    for (const Name& n : names) benchmark::DoNotOptimize(ds.FindField(n.asked));
  }
  Report(state, names.size());
}

void BM_FieldByAsciiName(benchmark::State& state) {
  LookUpFields(state, kAsciiNames);
}
BENCHMARK(BM_FieldByAsciiName);

void BM_FieldByUnicodeName(benchmark::State& state) {
  LookUpFields(state, kUnicodeNames);
}
BENCHMARK(BM_FieldByUnicodeName);

void BM_ParamByAsciiName(benchmark::State& state) {
  TParams params;
  const size_t count = 10;
  for (size_t i = 0; i < count; ++i)
    params.CreateParam(ftInteger, kAsciiNames[i].declared, ptInput);
  for (auto _ : state) {
    for (size_t i = 0; i < count; ++i)
      benchmark::DoNotOptimize(params.FindParam(kAsciiNames[i].asked));
  }
  Report(state, count);
}
BENCHMARK(BM_ParamByAsciiName);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
