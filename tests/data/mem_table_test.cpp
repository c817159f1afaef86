// TFDMemTable used the way the online-user table uses it.
#include "data/mem_table.h"

#include <gtest/gtest.h>

#include "variant/ole_date.h"

namespace velmora::test {
namespace {

class OnlineUserTable : public ::testing::Test {
 protected:
  void SetUp() override {
    tb.FieldDefs().Add("ID", ftString, 20);
    tb.FieldDefs().Add("IP", ftString, 20);
    tb.FieldDefs().Add("LoginTime", ftDateTime);
    tb.CreateDataSet();
  }

  void Connect(int64_t id, const std::string& ip, double when) {
    tb.Append();
    tb.SetFieldValues("ID", OleVariant(fmt_id(id)));
    tb.SetFieldValues("IP", OleVariant(ip));
    tb.SetFieldValues("LoginTime", OleVariant::Date(when));
    tb.Post();
  }
  static std::string fmt_id(int64_t id) { return std::to_string(id); }

  void Disconnect(int64_t id) {
    if (tb.Locate("ID", OleVariant(fmt_id(id)))) tb.Delete();
  }

  std::vector<std::string> Ids() {
    std::vector<std::string> ids;
    for (tb.First(); !tb.Eof(); tb.Next()) ids.push_back(tb.FieldValues("ID").AsString());
    return ids;
  }

  TFDMemTable tb;
};

TEST_F(OnlineUserTable, RowsComeAndGoInArrivalOrder) {
  EXPECT_TRUE(tb.Active());
  EXPECT_EQ(tb.RecordCount(), 0);
  const double t = EncodeDateTime({2024, 5, 6, 7, 8, 9, 0});
  Connect(101, "192.168.1.20:50213", t);
  Connect(7, "192.168.1.20:50214", t + 0.5);
  Connect(33, "10.0.0.1:1", t + 1);
  EXPECT_EQ(tb.RecordCount(), 3);
  EXPECT_EQ(Ids(), (std::vector<std::string>{"101", "7", "33"}));

  ASSERT_TRUE(tb.Locate("ID", OleVariant("7")));
  EXPECT_EQ(tb.FieldValues("IP").AsString(), "192.168.1.20:50214");
  EXPECT_EQ(tb.FieldValues("LoginTime"), OleVariant::Date(t + 0.5));

  Disconnect(7);
  Disconnect(999);  // unknown: nothing happens
  EXPECT_EQ(tb.RecordCount(), 2);
  EXPECT_EQ(Ids(), (std::vector<std::string>{"101", "33"}));
  EXPECT_FALSE(tb.CachedUpdates());
  EXPECT_EQ(tb.ChangeCount(), 0);

  tb.EmptyDataSet();
  EXPECT_EQ(tb.RecordCount(), 0);
  Connect(1, "a", t);  // still usable after emptying
  EXPECT_EQ(tb.RecordCount(), 1);
}

TEST_F(OnlineUserTable, LongAddressIsCutToTwentyCharacters) {
  Connect(1, "255.255.255.255:65535", 0);
  tb.First();
  EXPECT_EQ(tb.FieldValues("IP").AsString(), "255.255.255.255:6553");
}

TEST_F(OnlineUserTable, LocateFindsFirstMatchingRow) {
  Connect(5, "first", 0);
  Connect(5, "second", 0);
  ASSERT_TRUE(tb.Locate("id", OleVariant(int32_t{5})));
  EXPECT_EQ(tb.FieldValues("IP").AsString(), "first");
}

TEST(MemTable, CreateDataSetNeedsFields) {
  TFDMemTable tb;
  EXPECT_THROW(tb.CreateDataSet(), EDatabaseError);
  EXPECT_FALSE(tb.Active());
}

}  // namespace
}  // namespace velmora::test
