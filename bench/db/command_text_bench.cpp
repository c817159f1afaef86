// PreprocessCommandText on the texts a call typically carries: a short parameterised SELECT, a
// wider UPDATE with literals and a comment, and a text with escape sequences, read with the quotes
// of every engine (a text read before its connection opens) and in PostgreSQL's dialect (nested
// comments, E'..' strings, dollar bodies). It runs on every call's path, so its cost per byte is
// what this tracks.
#include <benchmark/benchmark.h>

#include <string>

#include "db/core/command_text.h"

namespace {

constexpr const char* kSelect =
    "SELECT ID, NAME, PRICE FROM PRODUCTS WHERE ID = :ID AND KIND = :Kind";

constexpr const char* kUpdate =
    "UPDATE ORDERS SET STATUS = :STATUS, NOTE = 'shipped: see ''log''', -- who changed it\n"
    "  CHANGED_BY = :USER_NAME, CHANGED_AT = CURRENT_TIMESTAMP, \"Total Price\" = :TOTAL\n"
    "WHERE ORDER_ID = :ORDER_ID AND /* keep the old rows */ STATUS <> 'closed' AND\n"
    "  REGION IN (:R1, :R2, :R3) AND CAST(AMOUNT AS NUMERIC(12, 2))::text <> :AMOUNT";

constexpr const char* kEscapes =
    "SELECT {fn UCASE(NAME)}, {fn CONCAT(FIRST_NAME, :SEP)} FROM PEOPLE "
    "WHERE BORN > {d '1990-01-01'} AND SEEN < {ts '2024-03-05 10:11:12'} AND ID = :ID";

void Preprocess(benchmark::State& state, const char* text,
                const velmora::TSqlDialect& dialect = velmora::kAnyEngineSqlDialect) {
  const std::string sql = text;
  for (auto _ : state) {
    velmora::TCommandText out =
        velmora::PreprocessCommandText(sql, velmora::RenderEscapePlain, dialect);
    benchmark::DoNotOptimize(out.sql.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sql.size()));
}

void BM_PreprocessSelect(benchmark::State& state) {
  Preprocess(state, kSelect);
}
void BM_PreprocessUpdate(benchmark::State& state) {
  Preprocess(state, kUpdate);
}
void BM_PreprocessEscapes(benchmark::State& state) {
  Preprocess(state, kEscapes);
}

void BM_PreprocessSelectPg(benchmark::State& state) {
  Preprocess(state, kSelect, velmora::kPostgresSqlDialect);
}
void BM_PreprocessUpdatePg(benchmark::State& state) {
  Preprocess(state, kUpdate, velmora::kPostgresSqlDialect);
}
void BM_PreprocessEscapesPg(benchmark::State& state) {
  Preprocess(state, kEscapes, velmora::kPostgresSqlDialect);
}

BENCHMARK(BM_PreprocessSelect);
BENCHMARK(BM_PreprocessUpdate);
BENCHMARK(BM_PreprocessEscapes);
BENCHMARK(BM_PreprocessSelectPg);
BENCHMARK(BM_PreprocessUpdatePg);
BENCHMARK(BM_PreprocessEscapesPg);

}  // namespace

BENCHMARK_MAIN();
