// The outcome of a command the operator gives on the command line (`--set-database`), whether the
// running copy carried it out or this process did: the exit status and the text to print, on
// standard output when done, on standard error when refused.
#pragma once

#include <QString>

namespace velmora {

struct CommandOutcome {
  int exit_code = 0;  // 0: done; 1: refused
  QString text;
  bool Done() const { return exit_code == 0; }
};

}  // namespace velmora
