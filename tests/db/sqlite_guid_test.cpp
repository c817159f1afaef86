// A GUID column of SQLite reads back as every engine gives a GUID, "{XXXXXXXX-...}" in upper case,
// whichever of its spellings was written; text that is no GUID reads back as it was written.
#include <gtest/gtest.h>

#include <string>

#include "tests/db/sqlite_test_support.h"

namespace velmora::test {
namespace {

TEST_F(SQLiteTest, AGuidColumnReadsBackInItsCanonicalForm) {
  const char* const canonical = "{A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11}";
  const struct {
    const char* written;
    const char* read;
  } cases[] = {
      {"a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11", canonical},
      {"{a0eebc99-9C0B-4ef8-bb6d-6bb9bd380a11}", canonical},
      {canonical, canonical},
      {"a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a1x", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a1x"},
      {"a0eebc999c0b-4ef8-bb6d-6bb9bd380a11-", "a0eebc999c0b-4ef8-bb6d-6bb9bd380a11-"},
      {"{a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11", "{a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"},
      {"not a guid", "not a guid"},
  };
  Exec("CREATE TABLE G (ID INTEGER PRIMARY KEY, C GUID)");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    Exec("DELETE FROM G");
    TFDQuery insert;
    insert.SetConnection(&connection_);
    insert.SQL().SetText("INSERT INTO G VALUES (1, :C)");
    insert.ParamByName("C").SetValue(OleVariant(c.written));
    insert.ExecSQL();
    TFDQuery q;
    q.SetConnection(&connection_);
    q.SQL().SetText("SELECT C FROM G");
    q.Open();
    EXPECT_EQ(FieldTypeName(q.FieldDefs()[0].DataType), "ftGuid");
    EXPECT_EQ(q.Fields(0).AsString(), c.read);
  }
}

}  // namespace
}  // namespace velmora::test
