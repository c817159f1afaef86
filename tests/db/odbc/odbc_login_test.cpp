// Opening an ODBC connection that cannot succeed: a driver the driver manager does not know, and
// a SQL Server that accepts TCP and never answers (a silent listener on 127.0.0.1). Both fail
// with the driver manager's or driver's own message, the second within the login time-out.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/db/odbc/odbc_test_support.h"

namespace velmora::test {
namespace {

// Accepts connections on 127.0.0.1 and never sends a byte.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_, 8) != 0) {
      throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        const int client = ::accept(fd_, nullptr, nullptr);
        if (client < 0) break;
        accepted_.push_back(client);  // held open, never answered
      }
    });
  }
  ~SilentListener() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
    for (int c : accepted_) ::close(c);
  }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<int> accepted_;
  std::thread thread_;
};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(OdbcLogin, UnknownDriverFailsWithTheDriverManagersMessage) {
  const auto start = Clock::now();
  const std::string message =
      ErrorOf([] { OpenOdbc("DriverID=ODBC\nODBCDriver=No Such Driver\nDatabase=x"); });
  EXPECT_NE(message.find("[unixODBC][Driver Manager]Can't open lib 'No Such Driver'"),
            std::string::npos)
      << message;
  EXPECT_LT(SecondsSince(start), 2.0);
}

TEST(OdbcLogin, SilentServerFailsWithinTheLoginTimeout) {
  SilentListener listener;
  for (const int timeout : {2, 10}) {
    const std::string lines = "DriverID=MSSQL\nServer=127.0.0.1," +
                              std::to_string(listener.Port()) + "\nDatabase=shop\nUser_Name=sa" +
                              (timeout == 10 ? std::string() : "\nLoginTimeout=2");
    const auto start = Clock::now();
    const std::string message = ErrorOf([&] { OpenOdbc(lines); });
    const double seconds = SecondsSince(start);
    std::printf("MSSQL login against a silent server, time-out %d s: failed after %.2f s: %s\n",
                timeout, seconds, message.c_str());
    EXPECT_NE(message.find("[FreeTDS]"), std::string::npos) << message;
    EXPECT_GE(seconds, timeout - 0.5);
    EXPECT_LT(seconds, timeout + 3.0);
  }
}

}  // namespace
}  // namespace velmora::test
