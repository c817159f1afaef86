// TSQLiteStatement: one prepared SQLite statement with the description of its result columns, as
// a command runs it and as a session's statement cache keeps it (db/core/statement_cache.h).
//
// Thread rules: those of the session it was prepared on (one thread at a time).
//
// It owns the statement: destroying it finalises the statement. The description belongs to the
// statement's program as it was when described: `reprepares` is the engine's count of automatic
// re-preparations (after a schema change) at that moment, and a statement whose count has moved
// since must be described again before its columns are trusted.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "data/field_defs.h"

namespace velmora {

// How a column's values are read into its field.
enum class TSQLiteReader : uint8_t {
  kInteger,
  kBoolean,
  kFloat,
  kCurrency,
  kBcd,
  kDate,
  kText,
  kBytes
};

struct TSQLiteColumnReader {
  TSQLiteReader reader;
  int64_t min = INT64_MIN;
  int64_t max = INT64_MAX;
};

class TSQLiteStatement {
 public:
  TSQLiteStatement() = default;
  ~TSQLiteStatement() { sqlite3_finalize(stmt); }
  TSQLiteStatement(TSQLiteStatement&& other) noexcept { *this = std::move(other); }
  TSQLiteStatement& operator=(TSQLiteStatement&& other) noexcept {
    if (this != &other) {
      sqlite3_finalize(stmt);
      stmt = std::exchange(other.stmt, nullptr);
      columns = std::move(other.columns);
      readers = std::move(other.readers);
      described = std::exchange(other.described, false);
      reprepares = other.reprepares;
    }
    return *this;
  }

  // Finalises the statement and forgets its description.
  void Finalize() { *this = TSQLiteStatement(); }

  // The engine's count of automatic re-preparations of this statement so far.
  int Reprepares() const { return sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_REPREPARE, 0); }

  sqlite3_stmt* stmt = nullptr;
  TFieldDefs columns;
  std::vector<TSQLiteColumnReader> readers;
  // The description holds for every run of the program it was taken from: no column's type was
  // inferred from the values of one run.
  bool described = false;
  int reprepares = 0;  // Reprepares() when the columns were described
};

}  // namespace velmora
