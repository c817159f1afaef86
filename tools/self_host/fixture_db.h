// A generated SQLite database for tests, benchmarks and the server's first-run sample:
//
//   ALL_TYPES  one column of every declared type the SQLite driver maps (docs/sqlite-types.md),
//              three rows: plain values; non-ASCII text, negative numbers and a blob holding
//              zero bytes; NULL in every column but the key.
//   BIG_TABLE  `rows` generated rows (ID 1..rows): ID INTEGER PRIMARY KEY, NAME VARCHAR(40),
//              AMOUNT DECIMAL(12,2), PRICE REAL, CREATED DATETIME, NOTE TEXT (NULL in every 7th
//              row), FLAG BOOLEAN, DATA BLOB (16 bytes in every 5th row, NULL otherwise).
#pragma once

#include <string>

namespace velmora::self_host {

inline constexpr int kAllTypesRows = 3;

// Creates the database at `path`, replacing a file already there. Raises std::runtime_error
// with the engine's message on failure.
void CreateFixtureDatabase(const std::string& path, int rows);

// The NAME of BIG_TABLE row `id` (every 10th holds non-ASCII text).
std::string FixtureName(int id);

}  // namespace velmora::self_host
