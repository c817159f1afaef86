// The shell of velmora-cli (the program run without a command): statements that end with `;`,
// each run as a query or as a command by the row rule (client/statement_kind.h), the results in
// the chosen output format, and backslash commands (\? lists them).
//
// On a terminal (RunShell with standard input a terminal): line editing and a history file, a
// continuation prompt inside a statement, an error is shown and the shell goes on. Ctrl-C at the
// prompt drops the unfinished statement; Ctrl-C while a call waits for its reply stops waiting:
// the connection is closed (the call's outcome is unknown) and opened again for the next
// statement. Ctrl-D at the prompt, or \q, leaves.
//
// Otherwise the statements are read from standard input and run in order; the first that fails
// ends the program with the exit code of the same failure in a one-command run.
//
// Runs on the main thread; a call waits on a thread of its own only on a terminal.
#pragma once

#include <functional>
#include <istream>
#include <string>

#include "client/format.h"
#include "client/velmora_client.h"

namespace velmora::cli {

struct ShellSettings {
  // Opens the client's connection and logs in; raises what TVelmoraClient::Connect raises.
  std::function<void(TVelmoraClient&)> connect;
  OutputFormat format = OutputFormat::Table;
  // Where the terminal's lines are kept between runs; empty: nowhere.
  std::string history_file;
};

// The history file: $VELMORA_HISTORY when set (set but empty: none), else ~/.velmora_history.
std::string DefaultHistoryFile();

// Connects, then reads statements from a terminal (standard input is one) or from standard
// input. Returns the exit code: 0, or the first failure's in the non-terminal mode; 2 when the
// first connection fails.
int RunShell(const ShellSettings& settings);

// The non-terminal mode on any stream (`out` for results, `err` for failures).
int RunStatementStream(const ShellSettings& settings, std::istream& in, std::ostream& out,
                       std::ostream& err);

}  // namespace velmora::cli
