// The record storage gives back what deleted and replaced records took: a table whose rows come
// and go, or change, keeps a bounded storage, and what the rows hold survives the reclaiming.
#include <gtest/gtest.h>

#include <string>

#include "data/mem_table.h"

namespace velmora::test {
namespace {

// Storage that a handful of live rows may use, with the slack reclaiming allows.
constexpr size_t kBound = 16 * 1024;

class RecordReclaim : public ::testing::Test {
 protected:
  void SetUp() override {
    tb.FieldDefs().Add("ID", ftString, 20);
    tb.FieldDefs().Add("IP", ftString, 20);
    tb.FieldDefs().Add("N", ftInteger);
    tb.CreateDataSet();
  }
  void Add(int id) {
    tb.Append();
    tb.SetFieldValues("ID", OleVariant(std::to_string(id)));
    tb.SetFieldValues("IP", OleVariant("192.168.100.200:" + std::to_string(id % 65536)));
    tb.SetFieldValues("N", OleVariant(int32_t{id}));
    tb.Post();
  }
  void Remove(int id) {
    ASSERT_TRUE(tb.Locate("ID", OleVariant(std::to_string(id))));
    tb.Delete();
  }
  std::string Saved() {
    TMemoryStream out;
    tb.SaveToStream(out);
    return std::string(out.View());
  }
  TFDMemTable tb;
};

// The online-user table: a row per connection, deleted when it closes.
TEST_F(RecordReclaim, ManyConnectDisconnectCyclesKeepTheStorageBounded) {
  Add(1);  // a client that stays connected throughout
  for (int id = 2; id < 20000; ++id) {
    Add(id);
    if (id % 3 == 0) Add(-id);  // another one now and then, leaving later
    Remove(id);
    if (id % 3 == 0) Remove(-id);
    ASSERT_LT(tb.RecordStoreBytes(), kBound) << "after " << id << " cycles";
  }
  ASSERT_EQ(tb.RecordCount(), 1);
  tb.First();
  EXPECT_EQ(tb.FieldValues("ID").AsString(), "1");
  EXPECT_EQ(tb.FieldValues("IP").AsString(), "192.168.100.200:1");
}

TEST_F(RecordReclaim, RepeatedEditsKeepTheStorageBoundedAndTheLastValues) {
  for (int id = 0; id < 20; ++id) Add(id);
  for (int round = 0; round < 2000; ++round) {
    tb.First();
    for (int id = 0; id < 20; ++id, tb.Next()) {
      tb.Edit();
      tb.SetFieldValues("N", OleVariant(int32_t{round * 100 + id}));
      tb.Post();
    }
    ASSERT_LT(tb.RecordStoreBytes(), kBound) << "round " << round;
  }
  tb.First();
  for (int id = 0; id < 20; ++id, tb.Next())
    EXPECT_EQ(tb.FieldValues("N").AsInteger(), 199900 + id);
}

// With a change log, originals are kept through reclaiming: the saved change log is the one a
// table that made only the final edits would save.
TEST_F(RecordReclaim, ChangeLogOriginalsSurviveReclaiming) {
  TFDMemTable reference;
  reference.FieldDefs().Add("ID", ftString, 20);
  reference.FieldDefs().Add("IP", ftString, 20);
  reference.FieldDefs().Add("N", ftInteger);
  reference.CreateDataSet();
  for (int id = 0; id < 30; ++id) Add(id);
  {
    TMemoryStream plain;
    tb.SaveToStream(plain);
    plain.SetPosition(0);
    reference.LoadFromStream(plain);
  }
  tb.SetCachedUpdates(true);
  reference.SetCachedUpdates(true);
  const size_t before = tb.RecordStoreBytes();
  for (int round = 0; round < 500; ++round) {
    tb.First();
    for (int id = 0; id < 30; ++id, tb.Next()) {
      tb.Edit();
      tb.SetFieldValues("N", OleVariant(int32_t{round}));
      tb.Post();
    }
  }
  EXPECT_LT(tb.RecordStoreBytes(), kBound);
  EXPECT_GT(tb.RecordStoreBytes(), before) << "the originals are still kept";
  for (reference.First(); !reference.Eof(); reference.Next()) {
    reference.Edit();
    reference.SetFieldValues("N", OleVariant(int32_t{499}));
    reference.Post();
  }
  TMemoryStream expected;
  reference.SaveToStream(expected);
  EXPECT_EQ(Saved(), std::string(expected.View()));
}

// A pooled query is closed and kept for the next statement: it must not keep the storage of the
// largest result it ever held until the process ends (thirty of them in the query pool). A small
// result's storage is kept for reuse.
class ClosedTable : public TFDMemTable {
 public:
  using TDataSet::Records;
};

// What a closed dataset may keep of its record storage, for the records and for the row list.
constexpr size_t kKeptOnClose = 256 * 1024;

TEST(RecordStoreRelease, CloseGivesBackTheStorageOfALargeResult) {
  const struct {
    int rows;
    bool released;
  } cases[] = {{20, false}, {40'000, true}};
  for (const auto& c : cases) {
    ClosedTable tb;
    tb.FieldDefs().Add("ID", ftInteger);
    tb.FieldDefs().Add("NOTE", ftString, 60);
    tb.CreateDataSet();
    for (int id = 0; id < c.rows; ++id) {
      tb.Append();
      tb.SetFieldValues("ID", OleVariant(int32_t{id}));
      tb.SetFieldValues("NOTE", OleVariant(std::string(50, 'n')));
      tb.Post();
    }
    const size_t held = tb.Records().arena.capacity();
    tb.Close();
    const TRecordStore& store = tb.Records();
    if (c.released) {
      EXPECT_LE(store.arena.capacity(), kKeptOnClose) << c.rows << " rows";
      EXPECT_LE(store.rows.capacity() * sizeof(TRowEntry), kKeptOnClose) << c.rows << " rows";
    } else {
      EXPECT_EQ(store.arena.capacity(), held) << c.rows << " rows";
    }
  }
}

}  // namespace
}  // namespace velmora::test
