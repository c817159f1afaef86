// Open-file dialog filters in the "description|patterns" form turned into Qt's name filters.
#include "maintenance/dialogs/file_filter.h"

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

TEST(NameFiltersFromFilter, PairsBecomeDescriptionsWithTheirPatterns) {
  const struct {
    const char* filter;
    QStringList expected;
  } cases[] = {
      {"Accese数据库文件|*.mdb|所有文件|*.*", {"Accese数据库文件 (*.mdb)", "所有文件 (*)"}},
      // Patterns already shown in the description are not shown twice.
      {"数据库文件(*.mdb)|*.mdb|所有文件|*.*", {"数据库文件(*.mdb)", "所有文件 (*)"}},
      {"Access|*.mdb;*.accdb", {"Access (*.mdb *.accdb)"}},
      {"Only a description", {"Only a description (*)"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NameFiltersFromFilter(QString::fromUtf8(c.filter)), c.expected) << c.filter;
  }
}

}  // namespace
}  // namespace velmora::test
