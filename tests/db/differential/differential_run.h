// The differential check: generated texts run through the server and through the engine's own
// client on the same database, and through the server with literal lifting on and off; between
// runs of the same texts the catalogue or the sessions' settings change, from the server's session
// or from the engine's. Each difference is shrunk (steps, rows and parts of the query dropped
// while it still differs, each try replayed on fresh tables) and reported as the statements that
// reproduce it.
//
// Thread rules: one run at a time per process (literal lifting is switched process-wide).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/db/differential/sessions.h"
#include "tests/db/differential/sql_model.h"

namespace velmora::test::differential {

struct RunSettings {
  Dialect dialect = Dialect::kSQLite;
  uint64_t seed = 1;
  double seconds = 3;
  // Sessions: the server's, and a new one of the engine's own client (another session).
  Session* server = nullptr;
  std::function<std::unique_ptr<Session>()> open_engine;
};

struct RunReport {
  size_t queries = 0;      // texts compared (each through the engine and twice through the server)
  size_t failed_both = 0;  // texts both sides refused
  size_t changes = 0;
  double seconds = 0;
  std::vector<std::string> differences;  // each a reproducible case
};

RunReport RunDifferential(const RunSettings& settings);

// For a test case: runs with the seed and seconds of the environment (below) or the given ones,
// prints what ran, and fails the case once per difference, with its case.
void ExpectAgreement(RunSettings settings);

// The seed and seconds of a run: VELMORA_DIFF_SEED and VELMORA_DIFF_SECONDS when set, else the
// defaults given.
uint64_t SeedFromEnvironment(uint64_t fallback);
double SecondsFromEnvironment(double fallback);

}  // namespace velmora::test::differential
