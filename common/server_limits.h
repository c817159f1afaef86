// ServerLimits: the bounds every client is held to, so that no single client can exhaust the
// server's memory, threads or time. The shell reads them from CONFIG.CFG's "Limits" section at
// start-up and sets them before the service starts; every layer reads the process-wide copy.
//
// Thread contract: SetServerLimits is called on the UI (or main) thread while no connection is
// being served; Limits() may be read from any thread at any time and returns a stable snapshot.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

inline constexpr uint64_t kMiB = 1024 * 1024;

// The largest ResultMaxMiB: a result of this size, deflated, still fits in one frame of the
// transport's largest size (256 MiB) with its reply around it.
inline constexpr int64_t kResultMaxMiBCeiling = 255;
// The largest TextMaxMiB: a text arrives in one message, and a message is at most one frame of the
// transport's largest size (256 MiB).
inline constexpr int64_t kTextMaxMiBCeiling = 255;

struct ServerLimits {
  // Connections.
  size_t MaxConnections = 1000;  // more get one error frame and are closed
  size_t MaxUnauthenticatedPerAddress = 32;
  // Deadlines.
  std::chrono::seconds HelloTimeout{10};  // from accept to a complete hello
  std::chrono::seconds FrameTimeout{30};  // per frame, plus FrameSecondsPerMiB for each MiB
  std::chrono::seconds FrameSecondsPerMiB{1};
  std::chrono::seconds IdleTimeout{1800};     // a logged-in session with no call
  std::chrono::seconds DrainTimeout{10};      // on SIGTERM: unfinished calls get this long
  std::chrono::seconds StatementTimeout{60};  // one SQL statement; the backup engine is exempt
  std::chrono::seconds PoolWaitTimeout{3};    // a call's whole wait for a database connection
  // Sizes.
  uint32_t PreLoginFrameMax = 4096;     // before login: small plain frames only
  uint64_t MemoryBudget = 1024 * kMiB;  // everything inflated, decoded or built for replies at once
  uint64_t UpdateSqlMax = 16 * kMiB;    // UpdateSQL's text, inflated
  uint64_t DeltaMax = 256 * kMiB;       // UpdateOleVariant's saved dataset, inflated
  uint64_t UploadMax = 512 * kMiB;      // one file moved by UploadFile or DownLoadFile
  uint64_t ResultMax = 128 * kMiB;      // one result of SQL2OleVariant or StoredProc, as saved
  uint64_t TextMax = 16 * kMiB;         // one text in a call's arguments (SQL text, names, values)
  size_t VariantArrayMaxElements = 1'000'000;  // array elements of one message, all levels
  // Logins.
  int RefusalsPerConnection = 5;            // then the connection is closed
  int RefusalsPerMinutePerAddress = 10;     // then each refusal delays that address's next try
  std::chrono::seconds LoginDelayFirst{1};  // doubling ...
  std::chrono::seconds LoginDelayMax{60};   // ... up to this
  // The shell.
  size_t LogLinesKept = 10'000;  // lines the window's log page keeps
};

// A size limit as the refusals name it: "<n> MiB" for a whole number of MiB (the keys' unit),
// otherwise "<n> bytes" (a limit a program or test set in bytes).
std::string LimitSizeText(uint64_t bytes);

// The limits in force.
const ServerLimits& Limits();
// Replaces the limits in force (see the thread contract above).
void SetServerLimits(const ServerLimits& limits);

}  // namespace velmora
