// Saving and loading datasets: every field type, NULLs, large values, the change log, and
// refusal of malformed input.
#include "data/storage_format.h"

#include <gtest/gtest.h>

#include <cstring>

#include "data/dataset.h"
#include "data/dataset_values.h"

namespace velmora::test {
namespace {

// A value of the type a field of `type` reads back as; Null for types that hold no value.
OleVariant SampleValue(TFieldType type, int n) {
  switch (ValueKindOf(type)) {
    case TValueKind::None:
      return OleVariant::Null();
    case TValueKind::I8:
      return OleVariant(static_cast<int8_t>(-100 + n));
    case TValueKind::U8:
      return OleVariant(static_cast<uint8_t>(250 + n));
    case TValueKind::I16:
      return OleVariant(static_cast<int16_t>(-30000 + n));
    case TValueKind::U16:
      return OleVariant(static_cast<uint16_t>(65000 + n));
    case TValueKind::I32:
      return OleVariant(static_cast<int32_t>(-2000000000 + n));
    case TValueKind::U32:
      return OleVariant(static_cast<uint32_t>(4000000000u + n));
    case TValueKind::I64:
      return OleVariant(int64_t{-9000000000000000000} + n);
    case TValueKind::Bool:
      return OleVariant(n % 2 == 0);
    case TValueKind::F32:
      return OleVariant(1.5f + static_cast<float>(n));
    case TValueKind::F64:
      return OleVariant(-1e300 / (n + 1));
    case TValueKind::Currency:
      return OleVariant::Currency(-922337203685477 + n);
    case TValueKind::Date:
      return OleVariant::Date(45356.4236 + n);
    case TValueKind::Text:
      return OleVariant("数据 Ünïcødé ✓ " + std::to_string(n));
    case TValueKind::Bytes:
      return OleVariant::Bytes(std::string("\0\xff\x01", 3) + std::to_string(n));
    case TValueKind::Decimal:
      return OleVariant(BcdValue{"-12345678901234.5678", 18, 4});
    case TValueKind::TimeStamp:
      return OleVariant(SqlTimeStamp{2024, 2, 29, 23, 59, 58, static_cast<uint32_t>(n)});
    case TValueKind::TimeStampOffset:
      return OleVariant(
          SqlTimeStampOffset{{1999, 12, 31, 1, 2, 3, 4}, -5, static_cast<int16_t>(-30 - n)});
    case TValueKind::Interval: {
      SqlInterval i;
      i.sign = -1;
      i.days = 3;
      i.seconds = static_cast<uint32_t>(n);
      return OleVariant(i);
    }
    case TValueKind::Variant: {
      VariantArray arr;
      arr.low = -1;
      arr.items = {OleVariant("x"), OleVariant::Null(), OleVariant(int64_t{n})};
      return OleVariant(std::move(arr));
    }
  }
  return {};
}

void AppendRow(TDataSet& ds, int n, bool nulls) {
  RecordAppender& a = ds.BeginAppend();
  for (int f = 0; f < ds.FieldCount(); ++f)
    a.AppendVariant(nulls ? OleVariant::Null() : SampleValue(ds.FieldDefs()[f].DataType, n));
  ds.EndAppend();
}

// Everything a reader can see of a dataset, row by row, with all row kinds shown.
struct Snapshot {
  std::vector<TUpdateStatus> states;
  std::vector<std::vector<OleVariant>> values, old_values;
  std::vector<std::string> errors;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(TDataSet& ds) {
  const TUpdateRecordTypes saved = ds.FilterChanges();
  ds.FilterChanges({rtModified, rtInserted, rtDeleted, rtUnmodified});
  Snapshot s;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    s.states.push_back(ds.UpdateStatus());
    std::vector<OleVariant> v, o;
    for (int f = 0; f < ds.FieldCount(); ++f) {
      v.push_back(ds.FieldValue(f));
      o.push_back(ds.OldValue(f));
    }
    s.values.push_back(std::move(v));
    s.old_values.push_back(std::move(o));
    s.errors.push_back(ds.RowError() ? ds.RowError()->Message : "<none>");
  }
  ds.FilterChanges(saved);
  return s;
}

class StorageRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int t = 0; t < kFieldTypeCount; ++t) {
      TFieldDef& d = src.FieldDefs().Add(std::string("F_") + std::string(FieldTypeName(t)),
                                         static_cast<TFieldType>(t), 40);
      d.Precision = 18;
      d.Scale = 4;
      d.Required = t % 3 == 0;
      d.ReadOnly = t % 5 == 0;
      d.InKey = t == ftInteger;
      d.AutoInc = t == ftAutoInc;
      d.OriginTable = t % 2 ? "订单" : "";
      d.OriginColumn = "col" + std::to_string(t);
    }
    src.Open();
    AppendRow(src, 0, false);
    AppendRow(src, 1, true);
    AppendRow(src, 2, false);
    // A blob of a few MB in the last row.
    big_blob.resize(3 * 1024 * 1024);
    for (size_t i = 0; i < big_blob.size(); ++i)
      big_blob[i] = static_cast<char>(i * 131 + (i >> 9));
    src.First();
    src.Last();
    src.Edit();
    src.FieldByName("F_ftBlob") = OleVariant::Bytes(big_blob);
    src.Post();

    // Change log: row 0 modified (with an error), row 1 deleted, row 2 unmodified, one inserted.
    src.SetCachedUpdates(true);
    src.First();
    src.Edit();
    src.FieldByName("F_ftString") = OleVariant("changed");
    src.FieldByName("F_ftInteger").Clear();
    src.Post();
    src.SetRowError("violation of PRIMARY KEY 'PK_订单'");
    src.Next();
    src.Delete();
    src.Append();
    for (int f = 0; f < src.FieldCount(); ++f)
      src.SetFieldValue(f, SampleValue(src.FieldDefs()[f].DataType, 3));
    src.Post();
  }

  TDataSet src;
  std::string big_blob;
};

TEST_F(StorageRoundTrip, EveryTypeAndRowStateLoadsBackEqual) {
  TMemoryStream stream;
  src.SaveToStream(stream);
  stream.SetPosition(0);

  TDataSet dst;
  dst.LoadFromStream(stream);
  EXPECT_EQ(stream.Position(), stream.Size());
  EXPECT_TRUE(dst.Active());
  EXPECT_TRUE(dst.CachedUpdates());
  EXPECT_EQ(dst.FieldDefs(), src.FieldDefs());

  const Snapshot expected = Take(src);
  ASSERT_EQ(expected.states,
            (std::vector<TUpdateStatus>{usModified, usDeleted, usUnmodified, usInserted}));
  EXPECT_EQ(Take(dst), expected);

  // Spot checks that the snapshot holds what the test set out to store.
  dst.First();
  EXPECT_EQ(dst.FieldByName("F_ftString").OldValue(), SampleValue(ftString, 0));
  EXPECT_TRUE(dst.FieldByName("F_ftInteger").IsNull());
  EXPECT_EQ(dst.RowError()->Message, "violation of PRIMARY KEY 'PK_订单'");
  dst.Last();
  dst.Prior();
  EXPECT_EQ(dst.FieldByName("F_ftBlob").AsString(), big_blob);

  // Saving the loaded dataset gives the same bytes again.
  TMemoryStream again;
  dst.SaveToStream(again);
  EXPECT_EQ(again.View(), stream.View());
}

TEST_F(StorageRoundTrip, NullEmptyTextAndEmptyBlobStayDistinct) {
  TDataSet ds;
  ds.FieldDefs().Add("T", ftWideString, 10);
  ds.FieldDefs().Add("B", ftBlob);
  ds.Open();
  for (bool null_row : {true, false}) {
    RecordAppender& a = ds.BeginAppend();
    if (null_row) {
      a.AppendNull();
      a.AppendNull();
    } else {
      a.AppendText("");
      a.AppendBytes("");
    }
    ds.EndAppend();
  }
  TMemoryStream stream;
  ds.SaveToStream(stream);
  stream.SetPosition(0);
  TDataSet back;
  back.LoadFromStream(stream);
  EXPECT_FALSE(back.CachedUpdates());  // no change log saved
  back.First();
  EXPECT_TRUE(back.FieldValue(0).IsNull());
  EXPECT_TRUE(back.FieldValue(1).IsNull());
  back.Next();
  EXPECT_EQ(back.FieldValue(0), OleVariant(""));
  EXPECT_EQ(back.FieldValue(1), OleVariant::Bytes(std::string_view()));
}

TEST_F(StorageRoundTrip, SavesAtStreamPositionAndLoadsFromIt) {
  TMemoryStream stream(std::string("prefix"));
  stream.SetPosition(stream.Size());
  src.SaveToStream(stream);
  const size_t end = stream.Size();
  stream.Write("tail", 4);
  stream.SetPosition(6);
  TDataSet dst;
  dst.LoadFromStream(stream);
  EXPECT_EQ(stream.Position(), end);
  EXPECT_EQ(Take(dst), Take(src));
}

// ---------------------------------------------------------------------------------------------
// Malformed input

class MalformedInput : public ::testing::Test {
 protected:
  void SetUp() override {
    TDataSet ds;
    ds.FieldDefs().Add("ID", ftInteger);
    ds.FieldDefs().Add("Name", ftString, 10);
    ds.FieldDefs().Add("Flag", ftBoolean);
    ds.FieldDefs().Add("C", ftCursor);
    ds.Open();
    RecordAppender& a = ds.BeginAppend();
    a.AppendInt64(1);
    a.AppendText("abc");
    a.AppendInt64(1);
    a.AppendNull();
    ds.EndAppend();
    ds.SetCachedUpdates(true);
    ds.First();
    ds.Edit();
    ds.FieldByName("Name") = OleVariant("xyz");
    ds.Post();
    ds.SetRowError("boom");
    TMemoryStream s;
    ds.SaveToStream(s);
    good = s.Buffer();
    // Offsets in this layout: header 7 bytes, field count, then the four field definitions.
    size_t pos = 11;
    for (const char* name : {"ID", "Name", "Flag", "C"}) {
      field_type_at.push_back(pos + 4 + std::strlen(name));
      pos += 4 + std::strlen(name) + 1 + 12 + 1 + 4 + 4;
    }
    row_count_at = pos;
    row0 = pos + 4;  // row state byte; the null flags follow, then ID, Name, Flag
  }

  template <typename T>
  std::string With(size_t at, T v) const {
    std::string b = good;
    std::memcpy(b.data() + at, &v, sizeof v);
    return b;
  }

  std::string good;
  std::vector<size_t> field_type_at;
  size_t row_count_at = 0, row0 = 0;
};

TEST_F(MalformedInput, RefusedWithMessageSayingWhatIsWrong) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"empty", "", "bad magic"},
      {"bad magic", With<uint8_t>(0, 'X'), "bad magic"},
      {"unknown version", With<uint16_t>(4, 2), "Unsupported storage format version 2"},
      {"unknown flags", With<uint8_t>(6, 0x82), "Unknown dataset flags"},
      {"field count beyond input", With<uint32_t>(7, 0xFFFFFFFFu),
       "Field count 4294967295 exceeds the data"},
      {"field name beyond input", With<uint32_t>(11, 1000000), "truncated"},
      {"unknown type code", With<uint8_t>(field_type_at[0], 52),
       "Field 'ID': unknown field type code 52"},
      {"unknown attributes", With<uint8_t>(field_type_at[0] + 13, 0x10),
       "Field 'ID': unknown attribute flags"},
      {"row count beyond input", With<uint32_t>(row_count_at, 1000000),
       "Row count 1000000 exceeds the data"},
      {"bad row state", With<uint8_t>(row0, 4), "Row 0: bad row state 4"},
      {"null flag past the fields", With<uint8_t>(row0 + 1, 0x18),
       "null flags set beyond the last field"},
      {"value in an always-NULL field", With<uint8_t>(row0 + 1, 0x00),
       "field 'C' of type ftCursor must be NULL"},
      {"bad boolean", With<uint8_t>(row0 + 2 + 4 + 7, 2), "Row 0, field 'Flag': Bad boolean value"},
      {"text length beyond input", With<uint32_t>(row0 + 2 + 4, 0x7FFFFFFF),
       "Row 0, field 'Name': Unexpected end of data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream s(c.bytes);
    TDataSet ds;
    try {
      ds.LoadFromStream(s);
      ADD_FAILURE() << "accepted";
    } catch (const EFormatError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(ds.Active());
  }
}

TEST_F(MalformedInput, EveryTruncationIsRefused) {
  {
    TMemoryStream whole(good);
    TDataSet ds;
    ASSERT_NO_THROW(ds.LoadFromStream(whole));
  }
  for (size_t n = 0; n < good.size(); ++n) {
    TMemoryStream s(good.substr(0, n));
    TDataSet ds;
    EXPECT_THROW(ds.LoadFromStream(s), EFormatError) << "prefix of " << n << " bytes";
  }
}

TEST_F(MalformedInput, FailedLoadLeavesDataSetAsItWas) {
  TDataSet ds;
  ds.FieldDefs().Add("K", ftLargeint);
  ds.Open();
  ds.BeginAppend().AppendInt64(5);
  ds.EndAppend();
  TMemoryStream bad(good.substr(0, good.size() - 1));
  EXPECT_THROW(ds.LoadFromStream(bad), EFormatError);
  EXPECT_EQ(bad.Position(), 0u);
  ASSERT_EQ(ds.FieldCount(), 1);
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(ds.FieldValues("K").AsInt64(), 5);
}

}  // namespace
}  // namespace velmora::test

namespace velmora::test {
namespace {

// The worked example of docs/storage-format.md, byte for byte, both ways.
TEST(StorageLayout, MatchesTheDocumentedExample) {
  const std::string hex =
      "564c4453010001020000000200000049440300000000000000000000000004060000004f72646572730200"
      "00004944040000004e616d65010a0000000000000000000000000000000000000000020000000000010000"
      "000200000061628102020000000002000000010000007803000000647570";
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  ASSERT_EQ(bytes.size(), 116u);

  TMemoryStream in(bytes);
  TDataSet ds;
  ds.LoadFromStream(in);
  ASSERT_EQ(ds.FieldCount(), 2);
  EXPECT_TRUE(ds.FieldDefs()[0].InKey);
  EXPECT_EQ(ds.FieldDefs()[0].OriginTable, "Orders");
  EXPECT_EQ(ds.FieldDefs()[1].Size, 10);
  EXPECT_TRUE(ds.CachedUpdates());
  ds.First();
  EXPECT_EQ(ds.FieldValue(1), OleVariant("ab"));
  ds.Next();
  EXPECT_EQ(ds.UpdateStatus(), usModified);
  EXPECT_TRUE(ds.FieldValue(1).IsNull());
  EXPECT_EQ(ds.OldValue(1), OleVariant("x"));
  EXPECT_EQ(ds.RowError()->Message, "dup");

  // Built through the API, the same dataset saves to the same bytes.
  TDataSet built;
  TFieldDef& id = built.FieldDefs().Add("ID", ftInteger);
  id.InKey = true;
  id.OriginTable = "Orders";
  id.OriginColumn = "ID";
  built.FieldDefs().Add("Name", ftString, 10);
  built.Open();
  for (int i : {1, 2}) {
    RecordAppender& a = built.BeginAppend();
    a.AppendInt64(i);
    a.AppendText(i == 1 ? "ab" : "x");
    built.EndAppend();
  }
  built.SetCachedUpdates(true);
  built.Last();
  built.Edit();
  built.FieldByName("Name").Clear();
  built.Post();
  built.SetRowError("dup");
  TMemoryStream out;
  built.SaveToStream(out);
  EXPECT_EQ(out.Buffer(), bytes);
}

}  // namespace
}  // namespace velmora::test
