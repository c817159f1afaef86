// A refused login: the log keeps its fixed line, which names no one, and adds a line of its own
// with the address and the user tried, made fit for one line.
#include <gtest/gtest.h>

#include "rpc/rpc_errors.h"
#include "tests/app/shell_fixture.h"

namespace velmora::test {
namespace {

using RefusedLoginLogTest = ServingShellTest;

TEST_F(RefusedLoginLogTest, ASecondLineNamesTheAddressAndTheUserTried) {
  const struct {
    std::string user;
    QString shown;
  } cases[] = {
      {"Admin", QStringLiteral("Admin")},
      {"line\nbreak", QStringLiteral("line?break")},
      {std::string(100, 'u'), QString(64, QLatin1Char('u')) + QStringLiteral("…")},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.user);
    EXPECT_THROW(Client(c.user, "wrong"), EDSLoginError);
    ++n;
    ASSERT_TRUE(
        WaitUntil([&] { return LogCount(QStringLiteral("有陌生用户登录，请管理员注意！")) == n; }));
    bool found = false;
    for (const QString& line : LogLines()) {
      const QString text = line.mid(22);
      found = found || (text.startsWith(QStringLiteral("拒绝登录：地址 127.0.0.1:")) &&
                        text.endsWith(QStringLiteral("，用户 ") + c.shown));
    }
    EXPECT_TRUE(found) << LogLines().join('\n').toStdString();
  }
}

}  // namespace
}  // namespace velmora::test
