// Programs run as child processes by the tests and the benchmark tools (the server, velmora-cli):
// standard input from a file, standard output and error into files, the exit status waited for.
//
// The rules:
// - The child gets this process's environment unless the caller hands it another
//   (ChildEnvironment: this one less some variables, plus others).
// - An exit status is the program's exit code, or 128 + the signal that ended it; -1 when the
//   program could not be started or waited for.
//
// Thread rules: none kept; a pid is waited for once, by one thread.
#pragma once

#include <sys/types.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::self_host {

// This process's environment, less every variable whose "NAME=value" starts with one of `drop`,
// plus `add` ("NAME=value" each).
std::vector<std::string> ChildEnvironment(std::initializer_list<std::string_view> drop,
                                          const std::vector<std::string>& add = {});

// Starts args[0] with `args`; standard input from `in`, output and error into the files `out` and
// `err` (replaced); `env` (nullptr: this process's environment). Returns its pid, or -1 with
// errno set.
pid_t SpawnProgram(const std::vector<std::string>& args, const std::string& out,
                   const std::string& err, const std::string& in = "/dev/null",
                   const std::vector<std::string>* env = nullptr);
// Waits for `pid` to end; its exit status.
int WaitProgram(pid_t pid);

}  // namespace velmora::self_host
