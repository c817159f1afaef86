// Cursor, editing and change-log behaviour of TDataSet.
#include "data/dataset.h"

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.FieldDefs().Add("ID", ftInteger);
    ds.FieldDefs().Add("Name", ftString, 10);
    ds.FieldDefs().Add("Amount", ftFloat);
    ds.Open();
    for (int i = 1; i <= 5; ++i) {
      RecordAppender& a = ds.BeginAppend();
      a.AppendInt64(i);
      a.AppendText("row" + std::to_string(i));
      a.AppendDouble(i * 1.5);
      ds.EndAppend();
    }
    ds.First();
  }

  // IDs of the rows the change filter shows, walking First..Eof.
  std::vector<int> VisibleIds() {
    std::vector<int> ids;
    for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("id").AsInteger());
    return ids;
  }

  void GoTo(int id) { ASSERT_TRUE(ds.Locate("ID", OleVariant(int32_t{id}))); }

  TDataSet ds;
};

TEST_F(DataSetTest, NavigatesVisibleRows) {
  EXPECT_EQ(ds.RecordCount(), 5);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), 1);
  ds.Next();
  ds.Next();
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(ds.FieldValues("Name").AsString(), "row3");
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldValue(0).AsInteger(), 5);
  ds.Next();  // past the end: stays on the last row
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldValue(0).AsInteger(), 5);
  ds.Prior();
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.FieldValue(0).AsInteger(), 4);
  ds.First();
  ds.Prior();
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.FieldValue(0).AsInteger(), 1);
  EXPECT_EQ(VisibleIds(), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(DataSetTest, EmptyDataSetIsBothBofAndEof) {
  ds.EmptyDataSet();
  ds.First();
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.RecNo(), 0);
  EXPECT_TRUE(ds.FieldValue(0).IsNull());
  EXPECT_THROW(ds.Edit(), EDatabaseError);
  EXPECT_THROW(ds.Delete(), EDatabaseError);
}

TEST_F(DataSetTest, EditsWithoutCachedUpdatesLeaveNoLog) {
  GoTo(2);
  ds.Edit();
  ds.FieldByName("Name") = OleVariant("two");
  ds.Post();
  EXPECT_EQ(ds.UpdateStatus(), usUnmodified);
  GoTo(3);
  ds.Delete();
  ds.Append();
  ds.SetFieldValues("ID", OleVariant(int32_t{9}));
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), 0);
  ds.FilterChanges({rtModified, rtInserted, rtDeleted, rtUnmodified});
  EXPECT_EQ(VisibleIds(), (std::vector<int>{1, 2, 4, 5, 9}));
  GoTo(2);
  EXPECT_EQ(ds.FieldValues("Name").AsString(), "two");
}

TEST_F(DataSetTest, ChangeLogKeepsFirstOriginalOfModifiedRow) {
  ds.SetCachedUpdates(true);
  GoTo(2);
  ds.Edit();
  ds.FieldByName("Name") = OleVariant("first");
  ds.Post();
  ds.Edit();
  ds.FieldByName("Name") = OleVariant("second");
  ds.FieldByName("Amount").Clear();
  ds.Post();
  EXPECT_EQ(ds.UpdateStatus(), usModified);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "second");
  EXPECT_EQ(ds.FieldByName("Name").OldValue().AsString(), "row2");
  EXPECT_TRUE(ds.FieldByName("Amount").IsNull());
  EXPECT_EQ(ds.OldValue(2).AsDouble(), 3.0);
  EXPECT_EQ(ds.ChangeCount(), 1);
}

TEST_F(DataSetTest, ChangeLogRulesForInsertedAndDeletedRows) {
  ds.SetCachedUpdates(true);
  ds.Append();
  ds.FieldByName("ID") = OleVariant(int32_t{6});
  ds.Post();
  ds.Edit();  // editing an inserted row keeps it inserted, with no original
  ds.FieldByName("Name") = OleVariant("six");
  ds.Post();
  EXPECT_EQ(ds.UpdateStatus(), usInserted);
  EXPECT_TRUE(ds.FieldByName("Name").OldValue().IsNull());

  ds.Append();
  ds.FieldByName("ID") = OleVariant(int32_t{7});
  ds.Post();
  ds.Delete();  // deleting an inserted row removes it altogether

  GoTo(3);
  ds.Edit();
  ds.FieldByName("Name") = OleVariant("changed");
  ds.Post();
  ds.Delete();  // a deleted modified row keeps its original values
  GoTo(4);
  ds.Delete();

  EXPECT_EQ(VisibleIds(), (std::vector<int>{1, 2, 5, 6}));
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_EQ(ds.ChangeCount(), 3);

  ds.FilterChanges({rtDeleted});
  EXPECT_EQ(VisibleIds(), (std::vector<int>{3, 4}));
  ds.First();
  EXPECT_EQ(ds.UpdateStatus(), usDeleted);
  EXPECT_EQ(ds.FieldByName("Name").OldValue().AsString(), "row3");
  ds.FilterChanges({rtInserted, rtModified});
  EXPECT_EQ(VisibleIds(), (std::vector<int>{6}));

  ds.FilterChanges(kDefaultFilterChanges);
  ds.CommitUpdates();
  EXPECT_EQ(ds.ChangeCount(), 0);
  ds.FilterChanges({rtModified, rtInserted, rtDeleted, rtUnmodified});
  EXPECT_EQ(VisibleIds(), (std::vector<int>{1, 2, 5, 6}));
  GoTo(6);
  EXPECT_EQ(ds.UpdateStatus(), usUnmodified);
  EXPECT_EQ(ds.FieldByName("Name").OldValue().AsString(), "six");
}

TEST_F(DataSetTest, RowErrorsAreShownByTheErrorFilter) {
  ds.SetCachedUpdates(true);
  GoTo(1);
  ds.Edit();
  ds.FieldByName("Amount") = OleVariant(7.0);
  ds.Post();
  GoTo(2);
  ds.Delete();
  ds.FilterChanges({rtModified, rtInserted, rtDeleted, rtHasErrors});
  ds.First();
  EXPECT_EQ(ds.RowError(), nullptr);
  ds.SetRowError("first failed;");
  ds.Next();
  ds.SetRowError("second failed;");
  std::string messages;
  for (ds.First(); !ds.Eof(); ds.Next())
    if (const TRowError* e = ds.RowError()) messages += e->Message;
  EXPECT_EQ(messages, "first failed;second failed;");

  ds.FilterChanges({rtHasErrors});  // error rows show even when their state is not selected
  EXPECT_EQ(ds.RecordCount(), 2);
  ds.First();
  ds.ClearRowError();
  EXPECT_EQ(ds.RecordCount(), 1);
}

TEST_F(DataSetTest, InsertPlacesRowBeforeCurrent) {
  GoTo(3);
  ds.Insert();
  EXPECT_EQ(ds.State(), dsInsert);
  ds.FieldByName("ID") = OleVariant(int32_t{30});
  ds.Post();
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(VisibleIds(), (std::vector<int>{1, 2, 30, 3, 4, 5}));
}

TEST_F(DataSetTest, CancelDiscardsPendingValues) {
  GoTo(2);
  ds.Edit();
  ds.FieldByName("Name") = OleVariant("temp");
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "temp");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "row2");
  ds.Append();
  ds.Cancel();
  EXPECT_EQ(ds.RecordCount(), 5);
}

TEST_F(DataSetTest, NavigationPostsPendingEdit) {
  GoTo(1);
  ds.Edit();
  ds.FieldByName("Name") = OleVariant("posted");
  ds.Next();
  EXPECT_EQ(ds.State(), dsBrowse);
  GoTo(1);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "posted");
}

TEST_F(DataSetTest, LocateConvertsAndMatchesExactly) {
  EXPECT_TRUE(ds.Locate("name", OleVariant("row4")));
  EXPECT_EQ(ds.FieldValue(0).AsInteger(), 4);
  EXPECT_FALSE(ds.Locate("Name", OleVariant("ROW4")));
  EXPECT_TRUE(ds.Locate("ID", OleVariant("5")));  // text converted to the field's type
  EXPECT_EQ(ds.RecNo(), 5);
  EXPECT_FALSE(ds.Locate("ID", OleVariant("five")));
  EXPECT_FALSE(ds.Locate("ID", OleVariant(int32_t{42})));
  EXPECT_EQ(ds.RecNo(), 5);  // a failed search leaves the cursor alone
  EXPECT_FALSE(ds.Locate("Amount", OleVariant::Null()));
  GoTo(2);
  ds.Edit();
  ds.FieldByName("Amount").Clear();
  ds.Post();
  ds.First();
  EXPECT_TRUE(ds.Locate("Amount", OleVariant::Null()));
  EXPECT_EQ(ds.FieldValue(0).AsInteger(), 2);
  EXPECT_THROW(ds.Locate("Nope", OleVariant(1)), EDatabaseError);
}

TEST_F(DataSetTest, ErrorsCarryClearMessages) {
  try {
    ds.FieldByName("Missing");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'Missing' not found");
  }
  try {
    ds.SetFieldValues("Name", OleVariant("x"));
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Dataset not in edit or insert mode");
  }
  ds.Edit();
  EXPECT_THROW(ds.FieldByName("ID") = OleVariant("abc"), EDatabaseError);
  ds.Cancel();
  ds.Close();
  EXPECT_FALSE(ds.Active());
  EXPECT_THROW(ds.First(), EDatabaseError);
  EXPECT_EQ(ds.RecordCount(), 0);
}

TEST_F(DataSetTest, AppendPathRecoversFromBadValues) {
  RecordAppender& a = ds.BeginAppend();
  EXPECT_THROW(a.AppendBytes("xx"), EDatabaseError);  // binary data into an integer field
  ds.CancelAppend();
  // A failed value can be replaced and the row completed.
  RecordAppender& b = ds.BeginAppend();
  b.AppendInt64(7);
  b.AppendText("seven");
  EXPECT_THROW(b.AppendText("not a number"), EDatabaseError);
  b.AppendNull();
  ds.EndAppend();
  // Too few values: refused, nothing added.
  ds.BeginAppend().AppendInt64(8);
  EXPECT_THROW(ds.EndAppend(), EDatabaseError);
  EXPECT_EQ(ds.RecordCount(), 6);
  ds.Last();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "seven");
  EXPECT_TRUE(ds.FieldByName("Amount").IsNull());
}

}  // namespace
}  // namespace velmora::test
