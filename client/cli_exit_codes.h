// The exit codes of velmora-cli, shared by a one-command run and the shell's piped statements:
// 0 done; kExitFailed when the server handled the call and reported a failure (or the output
// could not be written); kExitUsageOrConnection for a bad command line, a refused login, a remote
// error, a lost connection or broken framing.
#pragma once

#include <exception>
#include <ostream>

namespace velmora::cli {

inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsageOrConnection = 2;

// Writes the failure's text to `err` and gives the exit code that failure ends a run with.
int ReportFailure(const std::exception_ptr& failure, std::ostream& err);

}  // namespace velmora::cli
