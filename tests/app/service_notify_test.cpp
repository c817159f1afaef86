// The real program under a stand-in service manager: NOTIFY_SOCKET names a datagram socket this
// test owns, as systemd's does for a Type=notify service. READY=1 must come once the port takes
// connections, STATUS must follow the port and the logged-in clients, STOPPING=1 must come on
// SIGTERM before the program ends.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "app/config/server_config.h"
#include "rpc/client_channel.h"
#include "tests/support/free_port.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

// The manager's end: every datagram the program sends, one at a time.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~NotifySocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Bound() const { return bound_; }

  // The next datagram that holds `line` as one of its lines; every datagram read on the way is
  // kept in Seen(). Empty when none comes within `timeout`.
  std::string WaitFor(const std::string& line,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return {};
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) != 1) return {};
      char buffer[4096];
      const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) return {};
      std::string message(buffer, static_cast<size_t>(got));
      seen_.push_back(message);
      if (("\n" + message + "\n").find("\n" + line + "\n") != std::string::npos) return message;
    }
  }
  std::string Seen() const {
    std::string all;
    for (const std::string& m : seen_) all += "[" + m + "]";
    return all;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
  std::vector<std::string> seen_;
};

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

TEST(ServiceNotify, ReadyOnceListeningStatusFollowsClientsStoppingOnSigterm) {
  TempDir folder;
  const int port = FreeLoopbackPort();
  ASSERT_NE(port, 0);
  WriteFile(folder.File("CONFIG.CFG"), "[CONFIG]\nSVROPENPORT=" + std::to_string(port) + "\n");
  NotifySocket manager(folder.File("notify"));
  ASSERT_TRUE(manager.Bound());

  const std::vector<std::string> env =
      ChildEnvironment({"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "NOTIFY_SOCKET="},
                       {"NOTIFY_SOCKET=" + folder.File("notify")});
  const pid_t pid = SpawnProgram({VELMORA_PROGRAM, "--headless", "--app-dir", folder.Path()},
                                 folder.File("out.txt"), folder.File("err.txt"), "/dev/null", &env);
  ASSERT_GT(pid, 0);

  const std::string ready = manager.WaitFor("READY=1");
  // Checked at once: the port must already take connections when READY arrives.
  const bool accepting = !ready.empty() && Accepts(port);
  const std::string serving = "Serving on port " + std::to_string(port);
  EXPECT_TRUE(accepting) << manager.Seen();
  EXPECT_NE(ready.find("STATUS=" + serving + ", 0 clients"), std::string::npos) << ready;

  if (!ready.empty()) {
    {
      TDSClientChannel client;
      client.Connect("127.0.0.1", static_cast<uint16_t>(port), "admin",
                     std::string(kDefaultPassword));
      EXPECT_FALSE(manager.WaitFor("STATUS=" + serving + ", 1 client").empty()) << manager.Seen();
    }
    EXPECT_FALSE(manager.WaitFor("STATUS=" + serving + ", 0 clients").empty()) << manager.Seen();
  }

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_FALSE(manager.WaitFor("STOPPING=1").empty()) << manager.Seen();
  EXPECT_EQ(WaitProgram(pid), 0) << ReadFile(folder.File("err.txt"));
  // READY went once only.
  const std::string seen = manager.Seen();
  EXPECT_EQ(seen.find("READY=1"), seen.rfind("READY=1")) << seen;
}

}  // namespace
}  // namespace velmora::test
