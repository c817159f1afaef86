#include "variant/variant_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/variant/allocation_probe.h"

namespace velmora::test {
namespace {

std::string Encode(const OleVariant& v) {
  std::string out;
  ByteWriter w(out);
  EncodeVariant(v, w);
  return out;
}

OleVariant Decode(const std::string& bytes) {
  ByteReader r(bytes);
  OleVariant v = DecodeVariant(r);
  EXPECT_TRUE(r.AtEnd()) << "decoder left " << r.Remaining() << " bytes";
  return v;
}

// One value of every type code the system carries, with edge values.
std::vector<OleVariant> EveryKind() {
  VariantArray nested;
  nested.low = -2;
  nested.items = {OleVariant(1), OleVariant::Null(), OleVariant::VarArrayCreate(0, -1),
                  OleVariant::Bytes(std::string_view("\x00\xff", 2), 7)};
  return {
      OleVariant(),
      OleVariant::Null(),
      OleVariant(int8_t{-128}),
      OleVariant(int16_t{-32768}),
      OleVariant(int32_t{std::numeric_limits<int32_t>::min()}),
      OleVariant(int64_t{std::numeric_limits<int64_t>::min()}),
      OleVariant(uint8_t{255}),
      OleVariant(uint16_t{65535}),
      OleVariant(uint32_t{0xFFFFFFFFu}),
      OleVariant(uint64_t{std::numeric_limits<uint64_t>::max()}),
      OleVariant(1.5f),
      OleVariant(-0.0),
      OleVariant(std::numeric_limits<double>::quiet_NaN()),
      OleVariant(std::numeric_limits<double>::denorm_min()),
      OleVariant::Currency(std::numeric_limits<int64_t>::max()),
      OleVariant::Date(-1.25),
      OleVariant::Error(-2147352572),
      OleVariant(true),
      OleVariant(false),
      OleVariant::OleStr(std::string("a\0b中", 6)),
      OleVariant::UString(""),
      OleVariant::AnsiString("\xff\xfe"),
      OleVariant(BcdValue{"-12.340", 5, 3}),
      OleVariant(SqlTimeStamp{-44, 3, 15, 23, 59, 58, 999}),
      OleVariant(SqlTimeStampOffset{{2024, 1, 2, 3, 4, 5, 6}, -11, -30}),
      OleVariant(SqlInterval{SqlInterval::kYearMonth, -1, 5, 11}),
      OleVariant(SqlInterval{SqlInterval::kDaySecond, 1, 0, 0, 1, 2, 3, 4, 5}),
      OleVariant::Bytes(std::vector<uint8_t>{}),
      OleVariant::Bytes(std::string_view("xyz"), -5),
      OleVariant(std::move(nested)),
  };
}

TEST(VariantCodec, RoundTripsEveryTypeCodeExactly) {
  for (const OleVariant& v : EveryKind()) {
    const OleVariant back = Decode(Encode(v));
    EXPECT_EQ(back.VarType(), v.VarType()) << VarTypeName(v.VarType());
    EXPECT_TRUE(back == v) << VarTypeName(v.VarType());
  }
  // All of them at once inside one array.
  VariantArray all;
  all.items = EveryKind();
  const OleVariant packed(std::move(all));
  EXPECT_TRUE(Decode(Encode(packed)) == packed);
}

TEST(VariantCodec, RefusesEveryTruncation) {
  VariantArray all;
  all.items = EveryKind();
  const std::string bytes = Encode(OleVariant(std::move(all)));
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    const std::string part = bytes.substr(0, cut);
    ByteReader r(part);
    EXPECT_THROW(DecodeVariant(r), EFormatError) << "cut at " << cut;
  }
}

std::string Header(uint16_t code) {
  std::string out;
  ByteWriter(out).Put<uint16_t>(code);
  return out;
}

TEST(VariantCodec, RefusesUnknownCodesAndBadFields) {
  for (uint16_t code : {0x0009, 0x000C, 0x000E, 0x0114, 0x2000, 0x2003, 0x4003, 0xFFFF}) {
    const std::string bytes = Header(code) + std::string(16, '\0');
    ByteReader r(bytes);
    EXPECT_THROW(DecodeVariant(r), EFormatError) << std::hex << code;
  }
  std::string interval = Header(varSQLInterval);
  interval += '\x02';  // no such interval kind
  interval += std::string(29, '\0');
  ByteReader r(interval);
  EXPECT_THROW(DecodeVariant(r), EFormatError);
}

TEST(VariantCodec, RefusesArraysWhoseBoundsOverflow) {
  for (uint16_t code : {kVarByteArray, kVarVariantArray}) {
    std::string bytes = Header(code);
    ByteWriter w(bytes);
    w.Put<int32_t>(std::numeric_limits<int32_t>::max());
    w.Put<uint32_t>(2);
    bytes += std::string(8, '\0');
    ByteReader r(bytes);
    EXPECT_THROW(DecodeVariant(r), EFormatError) << std::hex << code;
  }
}

TEST(VariantCodec, NestingLimit) {
  auto nested = [](int depth) {
    std::string bytes;
    ByteWriter w(bytes);
    for (int i = 0; i < depth; ++i) {
      w.Put<uint16_t>(kVarVariantArray);
      w.Put<int32_t>(0);
      w.Put<uint32_t>(1);
    }
    w.Put<uint16_t>(varNull);
    return bytes;
  };
  {
    const std::string ok = nested(kMaxVariantDepth);
    ByteReader r(ok);
    EXPECT_NO_THROW(DecodeVariant(r));
  }
  const std::string deep = nested(kMaxVariantDepth + 1);
  ByteReader r(deep);
  EXPECT_THROW(DecodeVariant(r), EFormatError);
}

// The elements of nested arrays count together: arrays each far under the limit are refused once
// their sum, at every level, passes it; one count spans several values (a call's arguments).
TEST(VariantCodec, ElementsAreCountedAcrossNestingLevels) {
  VariantArray inner;
  inner.items.assign(200, OleVariant());
  VariantArray outer;
  outer.items.assign(5, OleVariant(inner));  // 5 + 5 * 200 = 1005 elements
  const std::string bytes = Encode(OleVariant(outer));
  {
    VariantElementCount elements(1005);
    ByteReader r(bytes);
    MemoryReservation held;
    EXPECT_EQ(DecodeVariant(r, held, elements), OleVariant(outer));
    EXPECT_EQ(elements.Used(), 1005u);
  }
  const struct {
    uint64_t max;
    uint64_t used_before;  // by earlier values of the same message
    const char* error;
  } cases[] = {
      {1004, 0,
       "Variant arrays of 1005 elements in one message exceed the server's limit of 1004 "
       "elements"},
      {1005, 1,
       "Variant arrays of 1006 elements in one message exceed the server's limit of "
       "1005 elements"},
      {150, 0, "A variant array of 200 elements exceeds the server's limit of 150 elements"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    VariantElementCount elements(c.max);
    elements.Take(c.used_before, "A list");
    ByteReader r(bytes);
    MemoryReservation held;
    try {
      DecodeVariant(r, held, elements);
      ADD_FAILURE() << "decoded past the limit";
    } catch (const EVariantLimitExceeded& e) {
      EXPECT_EQ(std::string(e.what()), c.error);
    }
  }
}

// A text longer than the bound is refused before it is copied, whatever kind of text it is and
// however deep in arrays; one of exactly the bound is decoded.
TEST(VariantCodec, TextsAreHeldToTheirBound) {
  const std::string at(100, 't');
  const std::string over(101, 't');
  BcdValue bcd;
  bcd.text = over;
  const struct {
    const char* name;
    OleVariant value;
    bool refused;
  } cases[] = {
      {"OleStr at the bound", OleVariant::OleStr(at), false},
      {"OleStr", OleVariant::OleStr(over), true},
      {"UString", OleVariant::UString(over), true},
      {"AnsiString", OleVariant::AnsiString(over), true},
      {"BCD digits", OleVariant(bcd), true},
      {"in a nested array",
       OleVariant(VariantArray{
           0, {OleVariant(VariantArray{0, {OleVariant(1), OleVariant::OleStr(over)}})}}),
       true},
      {"a byte array is no text", OleVariant::Bytes(std::vector<uint8_t>(101, 1)), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = Encode(c.value);
    ByteReader r(bytes);
    MemoryReservation held;
    VariantElementCount elements;
    try {
      EXPECT_EQ(DecodeVariant(r, held, elements, 100), c.value);
      EXPECT_FALSE(c.refused) << "decoded past the bound";
    } catch (const EVariantLimitExceeded& e) {
      EXPECT_TRUE(c.refused);
      EXPECT_STREQ(e.what(),
                   "A text of 101 bytes exceeds the server's limit of 100 bytes (TextMaxMiB)");
    }
  }
}

// Counts larger than the input must fail before any allocation of their size; nested arrays that
// each claim the rest of the input must not multiply what is reserved. Under AddressSanitizer a
// reservation of what the counts claim would be gigabytes.
TEST(VariantCodec, ClaimedCountsDoNotDriveAllocation) {
  for (uint16_t code : {kVarByteArray, kVarVariantArray}) {
    std::string bytes = Header(code);
    ByteWriter w(bytes);
    w.Put<int32_t>(0);
    w.Put<uint32_t>(0xFFFFFFF0u);
    bytes += "abcd";
    ByteReader r(bytes);
    EXPECT_THROW(DecodeVariant(r), EFormatError);
  }
  // 31 nested arrays, each claiming half the 64 MB that follows, then nothing decodable.
  const size_t payload = size_t{64} << 20;
  std::string bytes;
  ByteWriter w(bytes);
  for (int i = 0; i < kMaxVariantDepth - 1; ++i) {
    w.Put<uint16_t>(kVarVariantArray);
    w.Put<int32_t>(0);
    w.Put<uint32_t>(static_cast<uint32_t>(payload / 2));
  }
  bytes.append(payload, '\xEE');  // 0xEEEE is no type code
  ByteReader r(bytes);
  ResetLargestAllocation();
  EXPECT_THROW(DecodeVariant(r), EFormatError);
  EXPECT_LT(LargestAllocation(), size_t{1} << 20);
}

}  // namespace
}  // namespace velmora::test
