// The apply workload of velmora-bench: one delta of kApplyRows modified rows of BIG_TABLE sent
// with UpdateOleVariant to a server started in this process, against the same UPDATEs run by a
// plain sqlite3 loop (one prepared statement, one transaction) on the same database file. Each
// round renames the rows anew, so every UPDATE writes; the figure is the median of the rounds and
// the ratio is the loop's time over the server's (1.0: the server applies as fast as the loop).
#pragma once

#include <string>

namespace velmora::bench {

inline constexpr int kApplyRows = 10000;

struct ApplyOptions {
  int rounds = 5;
  bool json = false;
};

// Starts its own server on a scratch database; prints one report. Returns the exit code.
int RunApplyWorkload(const std::string& user, const std::string& password,
                     const ApplyOptions& options);

}  // namespace velmora::bench
