// ParseDateTimeText, the one rule for date-time text (docs/date-time-text.md). The rows marked
// "was:" are inputs on which the dataset's and the SQLite driver's former parsers disagreed.
#include "variant/date_time_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "variant/ole_date.h"

namespace velmora::test {
namespace {

TEST(DateTimeText, OneRuleForEveryText) {
  struct Case {
    std::string text;
    std::optional<DateTimeParts> value;  // nullopt: refused
  };
  const std::vector<Case> cases = {
      // was: dataset yes, driver no
      {"2024-1-5", DateTimeParts{2024, 1, 5}},
      {"2024-01-05 9:05", DateTimeParts{2024, 1, 5, 9, 5}},
      // was: dataset yes (rolled over into the next month), driver no
      {"2023-02-29", std::nullopt},
      {"2024-04-31", std::nullopt},
      {"2024-2-30 10:00", std::nullopt},
      // was: driver yes, dataset no
      {"2024-01-05Z", DateTimeParts{2024, 1, 5}},
      {"2024-01-05T10:11:12.5z", DateTimeParts{2024, 1, 5, 10, 11, 12, 500}},
      {"2024-01-05t10:11", DateTimeParts{2024, 1, 5, 10, 11}},
      {"\r\n2024-01-05 10:11\n", DateTimeParts{2024, 1, 5, 10, 11}},
      // leap years
      {"2024-02-29", DateTimeParts{2024, 2, 29}},
      {"2000-02-29", DateTimeParts{2000, 2, 29}},
      {"1900-02-29", std::nullopt},
      // times; a time alone lies on 1899-12-30; fraction digits past the third are dropped
      {"10:11", DateTimeParts{1899, 12, 30, 10, 11}},
      {"9:05:07", DateTimeParts{1899, 12, 30, 9, 5, 7}},
      {" 2024-12-31 23:59:59.9999 ", DateTimeParts{2024, 12, 31, 23, 59, 59, 999}},
      {"10:11Z", DateTimeParts{1899, 12, 30, 10, 11}},
      // refused by both before and now
      {"", std::nullopt},
      {"Z", std::nullopt},
      {"2024-13-01", std::nullopt},
      {"2024-00-10", std::nullopt},
      {"2024-01-00", std::nullopt},
      {"2024-001-05", std::nullopt},
      {"24-01-05", std::nullopt},
      {"2024/01/05", std::nullopt},
      {"20240105", std::nullopt},
      {"2024-01-05  10:11", std::nullopt},
      {"2024-01-05 10:11:12.", std::nullopt},
      {"2024-01-05 10:11 Z", std::nullopt},
      {"24:00", std::nullopt},
      {"10:60", std::nullopt},
      {"10:11:60", std::nullopt},
      {"10:1", std::nullopt},
      {"123:00", std::nullopt},
      {"yesterday", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\"");
    double out = -1;
    const bool ok = ParseDateTimeText(c.text, out);
    ASSERT_EQ(ok, c.value.has_value());
    if (ok) {
      EXPECT_DOUBLE_EQ(out, EncodeDateTime(*c.value));
    } else {
      EXPECT_EQ(out, -1);  // untouched
    }
  }
}

}  // namespace
}  // namespace velmora::test
