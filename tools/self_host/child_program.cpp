#include "tools/self_host/child_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace velmora::self_host {

namespace {
std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}
}  // namespace

std::vector<std::string> ChildEnvironment(std::initializer_list<std::string_view> drop,
                                          const std::vector<std::string>& add) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry = *e;
    bool dropped = false;
    for (std::string_view prefix : drop) dropped = dropped || entry.starts_with(prefix);
    if (!dropped) env.emplace_back(entry);
  }
  env.insert(env.end(), add.begin(), add.end());
  return env;
}

pid_t SpawnProgram(const std::vector<std::string>& args, const std::string& out,
                   const std::string& err, const std::string& in,
                   const std::vector<std::string>* env) {
  std::vector<std::string> args_copy = args;
  std::vector<char*> argv = Pointers(args_copy);
  std::vector<std::string> env_copy;
  std::vector<char*> envp;
  if (env != nullptr) {
    env_copy = *env;
    envp = Pointers(env_copy);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(),
                             env != nullptr ? envp.data() : environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) errno = rc;
  return rc == 0 ? pid : -1;
}

int WaitProgram(pid_t pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace velmora::self_host
