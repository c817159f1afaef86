// Names in other letter case through SQLite's real engine: markers of one parameter written in
// different case, a parameter set by name and a column found by name, with non-ASCII letters.
#include <gtest/gtest.h>

#include "tests/db/sqlite_test_support.h"

namespace velmora::test {
namespace {

using NameLookupSQLiteTest = SQLiteTest;

TEST_F(NameLookupSQLiteTest, MarkersParametersAndColumnsMatchInAnyLetterCase) {
  // :äpfel and :ÄPFEL are one parameter; the columns are named ÄPFEL and MENGE.
  query_.SQL().SetText("SELECT :\xC3\xA4pfel * 2 AS \"\xC3\x84PFEL\", :\xC3\x84PFEL + 1 AS MENGE");
  ASSERT_EQ(query_.Params().Count(), 1);
  query_.ParamByName("\xC3\x84pfel").SetValue(int32_t{21});
  query_.Open();
  EXPECT_EQ(query_.FieldByName("\xC3\xA4pfel").AsInteger(), 42);
  EXPECT_EQ(query_.FieldByName("menge").AsInteger(), 22);
  EXPECT_FALSE(query_.FindField("APFEL").has_value());
}

}  // namespace
}  // namespace velmora::test
