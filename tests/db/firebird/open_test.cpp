// Opening Firebird connections: how the parameters make the attach string, and an open that
// cannot reach its server ends within the login time-out with the engine's message.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "db/core/connection.h"
#include "db/core/db_error.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

std::string OpenError(const std::vector<std::pair<std::string, std::string>>& params) {
  TFDConnection c;
  c.Params().SetValue("DriverID", "FB");
  for (const auto& [key, value] : params) c.Params().SetValue(key, value);
  try {
    c.Open();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(FbOpen, BadParametersFailBeforeTheEngineIsAsked) {
  EXPECT_EQ(OpenError({}), "Connection parameter Database is missing");
  EXPECT_EQ(OpenError({{"Database", "/x.fdb"}, {"Port", "3050"}}),
            "Connection parameter Port needs Server");
  EXPECT_EQ(OpenError({{"Database", "/x.fdb"}, {"LockTimeout", "soon"}}),
            "Invalid value [soon] of connection parameter LockTimeout");
}

// A server that accepts the connection and never answers: the open gives up after LoginTimeout.
TEST(FbOpen, ASilentServerFailsTheOpenWithinTheLoginTimeOut) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string port = std::to_string(ntohs(addr.sin_port));
  const auto start = std::chrono::steady_clock::now();
  const std::string message = OpenError({{"Server", "127.0.0.1"},
                                         {"Port", port},
                                         {"Database", "/srv/none.fdb"},
                                         {"LoginTimeout", "2"}});
  const auto took = std::chrono::steady_clock::now() - start;
  ::close(fd);
  EXPECT_EQ(message,
            "connection rejected by remote interface\n127.0.0.1/" + port + ":/srv/none.fdb");
  EXPECT_GE(took, 1500ms);
  EXPECT_LT(took, 6s);
}

}  // namespace
}  // namespace velmora::test
