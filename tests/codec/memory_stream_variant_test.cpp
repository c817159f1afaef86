#include <gtest/gtest.h>

#include <string>

#include "codec/uMemoryStream2OLEVariant.h"

namespace velmora::test {
namespace {

TEST(MemoryStreamVariant, StreamBecomesAZeroBasedByteArray) {
  for (const std::string& bytes : {std::string(), std::string("\0\xff\x80z", 4)}) {
    TMemoryStream m(bytes);
    m.SetPosition(1);
    OleVariant v = OleVariant(5);
    MemoryStream2OleVariant(m, v);
    ASSERT_EQ(v.VarType(), 0x2011);
    EXPECT_EQ(v.LowBound(), 0);
    EXPECT_EQ(v.HighBound(), static_cast<int32_t>(bytes.size()) - 1);
    EXPECT_EQ(std::string(v.ByteData().bytes.begin(), v.ByteData().bytes.end()), bytes);
    EXPECT_EQ(m.Position(), m.Size());
  }
}

TEST(MemoryStreamVariant, ByteArrayBecomesAStreamPositionedAtItsEnd) {
  struct Case {
    int32_t low;
    std::string bytes;
  };
  const Case cases[] = {{0, ""}, {0, "abc"}, {1, "abc"}, {-7, std::string("\0\0x", 3)}};
  for (const auto& c : cases) {
    const auto m = OleVariant2MemoryStream(OleVariant::Bytes(c.bytes, c.low));
    ASSERT_NE(m, nullptr) << c.low;
    EXPECT_EQ(m->Buffer(), c.bytes);
    EXPECT_EQ(m->Position(), c.bytes.size());
  }
}

TEST(MemoryStreamVariant, EmptyStreamRoundTrip) {
  TMemoryStream empty;
  OleVariant v;
  MemoryStream2OleVariant(empty, v);
  EXPECT_EQ(v.LowBound(), 0);
  EXPECT_EQ(v.HighBound(), -1);
  const auto back = OleVariant2MemoryStream(v);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->Size(), 0u);
}

TEST(MemoryStreamVariant, AnythingButAByteArrayGivesNothing) {
  const OleVariant others[] = {
      OleVariant(),
      OleVariant::Null(),
      OleVariant("bytes as text"),
      OleVariant::AnsiString("abc"),
      OleVariant(42),
      OleVariant::VarArrayCreate(0, 3),
      OleVariant(BcdValue{"1.5", 2, 1}),
  };
  for (const auto& v : others) EXPECT_EQ(OleVariant2MemoryStream(v), nullptr) << v.VarType();
}

}  // namespace
}  // namespace velmora::test
