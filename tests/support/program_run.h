// Programs the tests run as subprocesses (the server, velmora-cli), by the rules of
// tools/self_host/child_program.h, which the benchmark tools share; RunProgram runs one to its end
// and reads back what it wrote.
#pragma once

#include <string>
#include <vector>

#include "tools/self_host/child_program.h"

namespace velmora::test {

struct ProgramResult {
  int code = -1;
  std::string out;
  std::string err;  // "cannot start ..." when the program did not start
};

using self_host::ChildEnvironment;
using self_host::SpawnProgram;
using self_host::WaitProgram;

// SpawnProgram and WaitProgram, with output and error read back from files in `scratch_dir`.
ProgramResult RunProgram(const std::vector<std::string>& args, const std::string& scratch_dir,
                         const std::string& in = "/dev/null",
                         const std::vector<std::string>* env = nullptr);

}  // namespace velmora::test
