// DriverID=MSAcc through MDB Tools' ODBC driver on a real Access file named by VELMORA_TEST_MDB
// (scripts/test.sh sets it when the DateTestDatabase.mdb fixture lies beside the checkout).
// Without the variable the test is skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "db/core/db_error.h"
#include "tests/db/odbc/odbc_test_support.h"
#include "variant/ole_date.h"

// Full stacks for leak reports: MDB Tools is built without frame pointers, and the suppression
// of its parser's leak (tests/lsan.supp) must see the driver's frames to match.
extern "C" const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0";
}

namespace velmora::test {
namespace {

TEST(OdbcMSAcc, ReadsDatesAndTextsAndRefusesWrites) {
  const char* path = std::getenv("VELMORA_TEST_MDB");
  if (path == nullptr || *path == '\0') GTEST_SKIP() << "VELMORA_TEST_MDB is not set";
  auto connection = OpenOdbc(std::string("DriverID=MSAcc\nUser_Name=Admin\nDatabase=") + path);

  TFDQuery q;
  q.SetConnection(connection.get());
  q.SQL().SetText("SELECT * FROM DateTest");
  q.Open();
  ASSERT_GE(q.RecordCount(), 6);
  EXPECT_EQ(q.FieldDefs().Find("IDCol")->DataType, ftInteger);
  EXPECT_EQ(q.FieldDefs().Find("DateTimeCol")->DataType, ftDateTime);
  EXPECT_EQ(q.FieldDefs().Find("ShortTextCol")->DataType, ftWideString);
  EXPECT_EQ(q.FieldDefs().Find("LongTextCol")->DataType, ftWideMemo);
  EXPECT_EQ(q.FieldByName("IDCol").AsInteger(), 1);
  EXPECT_DOUBLE_EQ(q.FieldValues("DateTimeCol").AsDouble(), EncodeDateTime({2021, 12, 2}));
  EXPECT_EQ(q.FieldByName("ShortTextCol").AsString(), "Hello");
  // Rows 2 to 4 hold dates MDB Tools cannot convert (year 9999, before 1900, before 1000): it
  // gives day 0 of January 1900, which reads as NULL; their texts come whole.
  q.Next();
  EXPECT_TRUE(q.FieldByName("DateTimeCol").IsNull());
  EXPECT_EQ(q.FieldByName("LongTextCol").AsString(), "Year 9999");
  q.Next();
  EXPECT_TRUE(q.FieldByName("DateCol").IsNull());
  EXPECT_EQ(q.FieldByName("ShortTextCol").AsString(), "Pre-1900 years");
  q.Last();
  EXPECT_EQ(q.FieldByName("LongTextCol").AsString(), "New line\r\nin field");

  // No transactions in MDB Tools: starting one is a no-op and the engine's own refusal of a
  // write reaches the caller.
  connection->StartTransaction();
  EXPECT_TRUE(connection->InTransaction());
  const std::string refused = ErrorOf([&] { Exec(*connection, "DELETE FROM DateTest"); });
  EXPECT_NE(refused, "");
  connection->Rollback();
  EXPECT_EQ(Scalar(*connection, "SELECT COUNT(*) FROM DateTest"), std::to_string(q.RecordCount()));
}

}  // namespace
}  // namespace velmora::test
