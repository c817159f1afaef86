// How a TVelmoraClient comes back after its connection dropped, and which lost calls it may send
// again. Plain values; any thread.
//
// Reconnecting: when a call finds the connection gone (closed by the server, broken by an earlier
// call), the client connects and logs in again before sending it. One attempt tries every address
// once, in the order given or shuffled (RandomOrder). The first attempt starts at once; before each
// further one the client waits FirstDelay, doubled each time up to MaxDelay (defaults: 0, 50, 100,
// 200, 400, 800, 1600, 2000 ms ...). It gives up after MaxAttempts attempts, or sooner when the
// next wait would end past GiveUp after the first attempt began (defaults: 8 attempts, about 5.2 s
// of waiting; 10 s), raising EDSConnectionError that names every address tried with its last
// error. The call was not sent; the next call starts over.
//
// Lost replies: a call sent whose reply never came raises EDSOutcomeUnknown (it may have run).
// Only a call that cannot change data is sent again, once, on a fresh connection, and only when
// RetryReads is on: GetServerDateTime, CheckUpload, DownLoadFile, ReadData, and SQL2OleVariant
// called with TCallSafety::ReadOnly. Every other method (and the untyped Call) is never sent twice.
#pragma once

#include <algorithm>
#include <chrono>

namespace velmora {

struct TReconnectRules {
  bool Reconnect = true;                     // reconnect for the next call after a drop
  bool RandomOrder = false;                  // try the addresses at random instead of in order
  bool RetryReads = false;                   // the library may resend a lost read (see above)
  std::chrono::milliseconds FirstDelay{50};  // the wait before the second attempt
  std::chrono::milliseconds MaxDelay{2000};  // the longest wait between two attempts
  int MaxAttempts = 8;                       // attempts (rounds over all addresses) per reconnect
  std::chrono::milliseconds GiveUp{10000};   // no attempt starts later than this
};

// The wait before attempt `attempt` (0 is the first, which starts at once).
inline std::chrono::milliseconds ReconnectDelay(const TReconnectRules& rules, int attempt) {
  if (attempt <= 0) return std::chrono::milliseconds(0);
  std::chrono::milliseconds delay = rules.FirstDelay;
  for (int i = 1; i < attempt && delay < rules.MaxDelay; ++i) delay *= 2;
  return std::min(delay, rules.MaxDelay);
}

// What a call of SQL2OleVariant may do to the data. ReadOnly is the caller's promise that the
// statement changes nothing, which lets the client send it again after a lost reply (RetryReads).
enum class TCallSafety { MayChangeData, ReadOnly };

}  // namespace velmora
