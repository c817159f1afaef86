// Macros (&name, !name) are not expanded: the text reaches the engine as written, where `&` is
// SQLite's bitwise and and `!=` its inequality.
#include <gtest/gtest.h>

#include "db/core/command_text.h"
#include "tests/db/sqlite_test_support.h"

namespace velmora::test {
namespace {

TEST(MacroTextTest, AmpersandAndBangReachTheEngineAsWritten) {
  const char* const texts[] = {
      "SELECT &name FROM T",
      "SELECT !name FROM T",
      "SELECT a &b, a & b, a&&b FROM T",
      "SELECT * FROM &table WHERE x != 1 AND !flag",
      "SELECT '&x', '!y', \"&z\" FROM T -- &c !d",
      "SELECT {fn UCASE(&x)} FROM T",
  };
  for (const char* text : texts) {
    const TCommandText out = PreprocessCommandText(text, RenderEscapePlain);
    if (std::string_view(text).find('{') == std::string_view::npos) {
      EXPECT_EQ(out.sql, text);
    } else {
      EXPECT_NE(out.sql.find("&x"), std::string::npos) << out.sql;
    }
    EXPECT_TRUE(out.names.empty()) << text;
  }
}

using MacroQueryTest = SQLiteTest;

TEST_F(MacroQueryTest, AmpersandIsBitwiseAndInTheEngine) {
  EXPECT_EQ(Scalar("SELECT 6 &3"), "2");
  EXPECT_EQ(Scalar("SELECT 12&10"), "8");
  EXPECT_EQ(Scalar("SELECT 1 WHERE 2 != 3"), "1");
  // A macro name is no name the engine knows: it says so, instead of the token vanishing.
  EXPECT_NE(ErrorOf([&] { Scalar("SELECT &name"); }), "");
}

}  // namespace
}  // namespace velmora::test
