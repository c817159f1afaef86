// A refused login: the log keeps its fixed line, which names no one, and adds a line of its own
// with the address and the user tried, made fit for one line; and the log's escaping agrees with
// Qt's Unicode categories.
#include <gtest/gtest.h>

#include "common/log_text.h"
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
      {"line\nbreak", QStringLiteral("line\\nbreak")},
      {"a\xe2\x80\xa8"
       "b\xe2\x80\x8f",
       QStringLiteral("a\\u2028b\\u200F")},
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

// The escaped set is every control, format, line and paragraph separator character Qt knows, and
// nothing it counts as anything else (code points Qt leaves unassigned may differ in version).
TEST(LogEscapes, AreQtsControlFormatAndSeparatorCharacters) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const QChar::Category category = QChar::category(c);
    if (category == QChar::Other_NotAssigned) continue;
    const bool qt_escapes = category == QChar::Other_Control || category == QChar::Other_Format ||
                            category == QChar::Separator_Line ||
                            category == QChar::Separator_Paragraph;
    ASSERT_EQ(IsEscapedInLog(c), qt_escapes) << std::hex << static_cast<uint32_t>(c);
  }
}

}  // namespace
}  // namespace velmora::test
