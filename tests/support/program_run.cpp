#include "tests/support/program_run.h"

#include <cerrno>
#include <cstring>

#include "tests/support/temp_dir.h"

namespace velmora::test {

ProgramResult RunProgram(const std::vector<std::string>& args, const std::string& scratch_dir,
                         const std::string& in, const std::vector<std::string>* env) {
  const std::string out_file = scratch_dir + "/.stdout", err_file = scratch_dir + "/.stderr";
  ProgramResult r;
  const pid_t pid = SpawnProgram(args, out_file, err_file, in, env);
  if (pid < 0) {
    r.err = "cannot start " + args.at(0) + ": " + std::strerror(errno);
    return r;
  }
  r.code = WaitProgram(pid);
  r.out = ReadFile(out_file);
  r.err = ReadFile(err_file);
  return r;
}

}  // namespace velmora::test
