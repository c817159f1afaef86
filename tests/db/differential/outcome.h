// What a text gave, from the server or from the engine's own client, and the comparison of two
// such outcomes.
//
// How the two sides are made comparable (the engine gives text, the server typed values):
// - Each column has a family. The server's comes from its field type (ftSmallint..ftLargeint are
//   integers, ftSingle a 4-byte float, ftFloat a float, ftFMTBcd/ftBCD/ftCurrency decimals, the
//   string and memo types text, ftDate/ftTime/ftDateTime, ftBoolean, the binary types blobs).
//   The engine's comes from the column's declared type: PostgreSQL's type oid; SQLite's declared
//   type by its names (BOOL, DATE, TIME, DATETIME/TIMESTAMP) and otherwise by SQLite's affinity
//   rules; a SQLite expression has no declared type and no family, its values alone are compared.
//   Families must be equal, except that a decimal column of the engine may be an integer on the
//   server (numeric(p,0)).
// - Each value of the engine is read by the server column's family: numbers as numbers (equal
//   when their decimal texts are, within a relative 1e-12 for floats, 1e-6 for 4-byte floats and
//   1e-14 for a decimal written with an exponent, as SQLite writes a real's 15 digits), booleans as
//   t/f/true/false/0/1, dates and times as ISO text moved to UTC by their offset (the process runs
//   in UTC, as the server gives zoned values in local time) and cut to the millisecond (the server
//   keeps milliseconds), text exactly.
// - Rows are compared in order when the query's ORDER BY names every column, otherwise as
//   multisets; an error compares equal to any other error, never to a result.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "data/field_type.h"

namespace velmora::test::differential {

enum class Family {
  kNone,
  kInteger,
  kFloat4,
  kFloat,
  kDecimal,
  kText,
  kDate,
  kTime,
  kDateTime,
  kBool,
  kBlob
};

const char* FamilyName(Family f);
Family FamilyOfFieldType(TFieldType t);
Family FamilyOfPgType(unsigned oid);
Family FamilyOfSqliteDeclared(const char* declared);  // kNone for nullptr

using Cell = std::optional<std::string>;  // nullopt: NULL

struct Outcome {
  bool failed = false;
  std::string error;
  std::vector<std::string> names;
  std::vector<Family> families;
  std::vector<std::vector<Cell>> rows;
};

// The difference between what the engine gave and what the server gave ("" when none).
// `server` cells are in the server's canonical form (the engine's are read by their family).
std::string Difference(const Outcome& engine, const Outcome& server, bool ordered);
// The difference between two outcomes of the server (lifting on and off): exact.
std::string ServerDifference(const Outcome& a, const Outcome& b, bool ordered);
// A short text of an outcome for the report.
std::string Describe(const Outcome& o);

// An engine's date or time text in the canonical form of `f` (kDate "yyyy-mm-dd", kTime
// "hh:nn:ss.zzz", kDateTime "yyyy-mm-dd hh:nn:ss.zzz", UTC); nullopt when it is not one.
std::optional<std::string> CanonicalDateTime(const std::string& text, Family f);

}  // namespace velmora::test::differential
