// The real program and its settings files: one that exists but cannot be read stops the start
// instead of letting the defaults (port 211, the built-in password) take its place; one rewritten
// by root keeps its owner; and a user name a client sends cannot forge a log line.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "rpc/client_channel.h"
#include "rpc/rpc_errors.h"
#include "tests/support/free_port.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string>& NoDisplay() {
  static const std::vector<std::string> env =
      ChildEnvironment({"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
  return env;
}

// Runs the program to its end; a program that does not end within 30 s (it serves) is killed and
// reported with code -1.
ProgramResult RunBriefly(const std::vector<std::string>& args, const std::string& scratch) {
  ProgramResult r;
  const pid_t pid =
      SpawnProgram(args, scratch + "/out.txt", scratch + "/err.txt", "/dev/null", &NoDisplay());
  if (pid <= 0) return r;
  int status = 0;
  for (int i = 0; i < 300 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (i == 299) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      status = -1;
    }
  }
  r.code = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadFile(scratch + "/out.txt");
  r.err = ReadFile(scratch + "/err.txt");
  return r;
}

bool CanRunAsNobody() {
  return ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0 &&
         ::getpwnam("nobody") != nullptr;
}

TEST(SettingsProgram, ASettingsFileThatCannotBeReadStopsTheStart) {
  struct Case {
    std::string label;
    std::string file;
    bool as_nobody;  // mode 000, read by a user other than root
  };
  const Case cases[] = {
      {"CONFIG.CFG is a folder", "CONFIG.CFG", false},
      {"DataBase.CFG is a folder", "DataBase.CFG", false},
      {"CONFIG.CFG without read permission", "CONFIG.CFG", true},
      {"DataBase.CFG without read permission", "DataBase.CFG", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.as_nobody && !CanRunAsNobody()) {
      std::printf("skipped: %s needs root and setpriv\n", c.label.c_str());
      continue;
    }
    TempDir app;
    TempDir scratch;
    const int port = FreeLoopbackPort();
    WriteFile(app.File("CONFIG.CFG"), "[CONFIG]\r\nSVROPENPORT=" + std::to_string(port) + "\r\n");
    std::string reason;
    std::vector<std::string> args = {VELMORA_PROGRAM, "--headless", "--app-dir", app.Path()};
    if (c.as_nobody) {
      WriteFile(app.File(c.file), "[CONFIG]\r\nSVRPASSWORD=s3cret\r\n");
      ASSERT_EQ(::chmod(app.File(c.file).c_str(), 0), 0);
      ASSERT_EQ(::chmod(app.Path().c_str(), 0777), 0);
      args.insert(args.begin(),
                  {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
      reason = "Permission denied";
    } else {
      fs::remove(app.File(c.file));
      fs::create_directory(app.File(c.file));
      reason = "Is a directory";
    }
    const ProgramResult r = RunBriefly(args, scratch.Path());
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Cannot read the settings file " + app.File(c.file) + ": " + reason),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("服务启动完成"), std::string::npos) << r.out;
  }
}

// `velmora --set-database` run by root on the folder of a service that runs as another user.
TEST(SettingsProgram, ASettingsFileWrittenByRootKeepsItsOwner) {
  if (!CanRunAsNobody()) GTEST_SKIP() << "needs root";
  const passwd* nobody = ::getpwnam("nobody");
  TempDir app;
  TempDir scratch;
  const std::string config = app.File("DataBase.CFG");
  WriteFile(config, "DriverID=SQLite\r\nDatabase=" + app.File("old.db") + "\r\n");
  ASSERT_EQ(::chown(config.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ASSERT_EQ(::chmod(config.c_str(), 0640), 0);

  const ProgramResult r =
      RunProgram({VELMORA_PROGRAM, "--app-dir", app.Path(), "--set-database",
                  "DriverID=SQLite;CreateDatabase=Yes;Database=" + app.File("new.db")},
                 scratch.Path(), "/dev/null", &NoDisplay());
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  struct stat st {};
  ASSERT_EQ(::stat(config.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, nobody->pw_uid);
  EXPECT_EQ(st.st_gid, nobody->pw_gid);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_NE(ReadFile(config).find("new.db"), std::string::npos);
}

// A refused login with a user name that holds a line separator, a direction override and a byte
// that is not UTF-8: standard output (the journal, for the service) shows one escaped line.
TEST(SettingsProgram, AUserNameCannotForgeALogLine) {
  TempDir app;
  TempDir scratch;
  const int port = FreeLoopbackPort();
  WriteFile(app.File("CONFIG.CFG"), "[CONFIG]\r\nSVROPENPORT=" + std::to_string(port) + "\r\n");
  const std::string out = scratch.File("out.txt");
  const pid_t pid = SpawnProgram({VELMORA_PROGRAM, "--headless", "--app-dir", app.Path()}, out,
                                 scratch.File("err.txt"), "/dev/null", &NoDisplay());
  ASSERT_GT(pid, 0);
  const std::string forged = "2026-12-11 11:00:00>>>服务关闭完成";
  const std::string user =
      "\xe2\x80\xae"
      "x\xe2\x80\xa8" +
      forged + "\xff";
  bool refused = false;
  for (int attempt = 0; attempt < 150 && !refused; ++attempt) {
    try {
      TDSClientChannel client;
      client.Connect("127.0.0.1", static_cast<uint16_t>(port), user, "wrong");
    } catch (const EDSLoginError&) {
      refused = true;
    } catch (const EDSConnectionError&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  EXPECT_TRUE(refused);
  std::string log;
  for (int i = 0; i < 100 && log.find("拒绝登录") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    log = ReadFile(out);
  }
  ::kill(pid, SIGTERM);
  EXPECT_EQ(WaitProgram(pid), 0) << ReadFile(scratch.File("err.txt"));
  log = ReadFile(out);

  const std::string shown = "，用户 \\u202Ex\\u2028" + forged + "\\xFF\n";
  const size_t at = log.find(shown);
  ASSERT_NE(at, std::string::npos) << log;
  const size_t line_start = log.rfind('\n', at) + 1;
  const std::string line = log.substr(line_start, at - line_start);
  EXPECT_EQ(line.find(">>>拒绝登录：地址 127.0.0.1:"), 19u) << line;
  EXPECT_EQ(log.find("\n" + forged), std::string::npos) << log;
  for (const char* raw : {"\xe2\x80\xa8", "\xe2\x80\xae", "\xff"}) {
    EXPECT_EQ(log.find(raw), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace velmora::test
