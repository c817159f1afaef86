// Truncated input is told from corrupt input by its kind (ETruncatedInput), not by its message.
#include <gtest/gtest.h>

#include <string>

#include "data/dataset.h"
#include "data/memory_stream.h"
#include "data/storage_format.h"
#include "variant/byte_io.h"

namespace velmora::test {
namespace {

TEST(TruncatedInput, ReaderRaisesTheTruncatedKind) {
  ByteReader in(std::string_view("\x01\x02", 2));
  EXPECT_THROW(in.Get<uint32_t>(), ETruncatedInput);
  EXPECT_THROW(in.GetBytes(3), ETruncatedInput);
  EXPECT_EQ(in.Get<uint16_t>(), 0x0201);  // a refused read consumes nothing
}

// A saved dataset with two fields and one row that carries an error text.
class SavedDataSet : public ::testing::Test {
 protected:
  void SetUp() override {
    TDataSet ds;
    ds.FieldDefs().Add("ID", ftInteger);
    ds.FieldDefs().Add("Name", ftString, 10);
    ds.Open();
    WriteDataSet(ds.FieldDefs(), TRecordStore{}, false, structure_);
    structure_.resize(structure_.size() - 4);  // without the row count
    RecordAppender& a = ds.BeginAppend();
    a.AppendInt64(1);
    a.AppendText("abc");
    ds.EndAppend();
    ds.First();
    ds.SetRowError("boom");
    TMemoryStream s;
    ds.SaveToStream(s);
    whole_ = s.Buffer();
  }

  // The kind and message of what ReadDataSet raises for `bytes`; fails the test when it
  // accepts them.
  static std::string KindAndMessage(std::string_view bytes) {
    TStoredDataSet out;
    try {
      ReadDataSet(bytes, out);
    } catch (const ETruncatedInput& e) {
      return std::string("truncated: ") + e.what();
    } catch (const EFormatError& e) {
      return std::string("malformed: ") + e.what();
    }
    ADD_FAILURE() << "accepted";
    return "";
  }

  std::string structure_;  // magic, version, flags and field definitions
  std::string whole_;
};

// Wherever the reader runs out of bytes outside a value, the error is the truncated kind with
// one message. (Counts that cannot fit in what is left are refused before reading, naming the
// count; a value that runs past the end is named by row and field: see storage_format_test.)
TEST_F(SavedDataSet, RunningOutOfBytesIsTheTruncatedKind) {
  ASSERT_GT(whole_.size(), structure_.size() + 4);
  ASSERT_EQ(whole_.compare(0, structure_.size(), structure_), 0);
  const auto cut = [this](size_t n) {
    return KindAndMessage(std::string_view(whole_).substr(0, n));
  };
  const std::string truncated = "truncated: Saved dataset is truncated";
  constexpr size_t kHeaderAndFieldCount = 4 + 2 + 1 + 4;
  for (size_t n = 4; n < kHeaderAndFieldCount; ++n) EXPECT_EQ(cut(n), truncated) << n;
  for (size_t n = kHeaderAndFieldCount; n < structure_.size(); ++n) {
    const std::string got = cut(n);
    if (got != truncated) {
      EXPECT_EQ(got, "malformed: Field count 2 exceeds the data") << n;
    }
  }
  EXPECT_EQ(cut(structure_.size() - 1), truncated);  // in the last field definition
  for (size_t n = structure_.size(); n < structure_.size() + 4; ++n) {
    EXPECT_EQ(cut(n), truncated) << n;  // in the row count
  }
  EXPECT_EQ(cut(whole_.size() - 1), truncated);  // in the row's error text
}

TEST_F(SavedDataSet, CorruptInputIsNotTruncated) {
  std::string bad_version = whole_;
  bad_version[4] = 9;
  EXPECT_EQ(KindAndMessage(bad_version), "malformed: Unsupported storage format version 9");
  EXPECT_EQ(KindAndMessage("VLD"), "malformed: Not a saved dataset (bad magic)");
}

}  // namespace
}  // namespace velmora::test
