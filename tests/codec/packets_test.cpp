// Client-side packets: compressed packets of bytes, plain byte arrays, result and delta packets.
#include "codec/packets.h"

#include <gtest/gtest.h>

#include <string>

#include "codec/uCompressionStream.h"

namespace velmora::test {
namespace {

TEST(Packets, CompressedPacketRoundTripsAnyBytes) {
  const std::string cases[] = {"", "SELECT 1", std::string("\xEF\xBB\xBFUPDATE t\r\n\0x", 16),
                               std::string(100000, 'z')};
  for (const auto& bytes : cases) {
    const OleVariant packet = CompressToPacket(bytes);
    ASSERT_TRUE(packet.IsByteArray());
    EXPECT_EQ(packet.LowBound(), 0);
    ASSERT_GE(packet.ByteData().bytes.size(), 2u);
    EXPECT_EQ(packet.ByteData().bytes[0], 0x78);  // zlib header, window bits 15
    EXPECT_EQ(PacketToBytes(packet), bytes);
  }
  EXPECT_LT(CompressToPacket(std::string(100000, 'z')).ByteData().bytes.size(), 1000u);
}

TEST(Packets, WrongValuesAreRefused) {
  EXPECT_THROW(PacketToBytes(OleVariant("text")), EVariantError);
  EXPECT_THROW(PacketToBytes(OleVariant::Null()), EVariantError);
  EXPECT_THROW(PacketToBytes(OleVariant::Bytes(std::string_view("not zlib"))),
               EZDecompressionError);
  EXPECT_THROW(ByteArrayToBytes(OleVariant(42)), EVariantError);
  EXPECT_EQ(ByteArrayToBytes(OleVariant::Bytes(std::string_view("abc"), 5)), "abc");
}

TEST(Packets, DeltaPacketReadsBackWithRowsAndChangeLog) {
  TFDMemTable source;
  source.FieldDefs().Add("ID", ftInteger);
  source.FieldDefs().Add("NAME", ftWideString, 10);
  source.CreateDataSet();
  for (int id = 1; id <= 3; ++id) {
    source.Append();
    source.SetFieldValue(0, OleVariant(id));
    source.SetFieldValue(1, OleVariant("n" + std::to_string(id)));
    source.Post();
  }
  source.CommitUpdates();
  source.SetCachedUpdates(true);
  ASSERT_TRUE(source.Locate("ID", OleVariant(2)));
  source.Edit();
  source.SetFieldValue(1, OleVariant("changed"));
  source.Post();

  TFDMemTable copy;
  ReadResultPacket(WriteDeltaPacket(source), copy);
  EXPECT_EQ(copy.FieldDefs(), source.FieldDefs());
  EXPECT_EQ(copy.RecordCount(), 3);
  EXPECT_EQ(copy.ChangeCount(), 1);
  ASSERT_TRUE(copy.Locate("ID", OleVariant(2)));
  EXPECT_EQ(copy.UpdateStatus(), usModified);
  EXPECT_EQ(copy.FieldValue(1).AsString(), "changed");
  EXPECT_EQ(copy.OldValue(1).AsString(), "n2");
}

TEST(Packets, ResultPacketThatIsNotADatasetIsRefused) {
  TFDMemTable t;
  EXPECT_ANY_THROW(ReadResultPacket(CompressToPacket("no dataset here"), t));
  EXPECT_FALSE(t.Active());
}

}  // namespace
}  // namespace velmora::test
