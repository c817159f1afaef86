// How the transport sends data packets and reads frames: a reply or call whose bulk is already a
// zlib stream goes plain (deflating it again costs a whole pass on each side), other large
// messages are still deflated; frames are read correctly however their bytes arrive, including
// several in one write.
#include <gtest/gtest.h>
#include <zlib.h>

#include <thread>

#include "tests/rpc/hardening_test_support.h"

namespace velmora::test {
namespace {

// Text-like content that deflates well, `n` bytes.
std::string Rows(size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i)
    s += "row " + std::to_string(i) + ";name " + std::to_string(i % 97) + "\n";
  s.resize(n);
  return s;
}

std::string ZlibStream(const std::string& plain, int level) {
  uLongf n = compressBound(static_cast<uLong>(plain.size()));
  std::string out(n, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &n,
                      reinterpret_cast<const Bytef*>(plain.data()),
                      static_cast<uLong>(plain.size()), level),
            Z_OK);
  out.resize(n);
  return out;
}

std::string EchoCall(const OleVariant& arg) {
  std::string m;
  EncodeCall(kClass, "Echo", std::span(&arg, 1), m);
  return m;
}

TEST(PacketBulk, RecognisesAZlibStreamThatIsMostOfTheMessage) {
  const std::string packet = ZlibStream(Rows(10'000), 6);
  std::string no_dict = packet;
  no_dict[1] = static_cast<char>(no_dict[1] | 0x20);  // FDICT set, check bits then wrong too
  std::string big_window = packet;
  big_window[0] = static_cast<char>(0x88);  // window of 2^16: not a zlib stream
  std::string stored_method = packet;
  stored_method[0] = static_cast<char>(0x77);
  const struct {
    const char* name;
    OleVariant value;
    size_t message_size;
    bool expected;
  } cases[] = {
      {"packet alone", OleVariant::Bytes(packet), packet.size() + 20, true},
      {"level 1 header", OleVariant::Bytes(ZlibStream(Rows(10'000), 1)), 100, true},
      {"level 9 header", OleVariant::Bytes(ZlibStream(Rows(10'000), 9)), 100, true},
      {"packet is a small part", OleVariant::Bytes(packet), packet.size() * 3, false},
      {"plain text", OleVariant::Bytes(Rows(10'000)), 10'020, false},
      {"preset dictionary flag", OleVariant::Bytes(no_dict), 100, false},
      {"window too large", OleVariant::Bytes(big_window), 100, false},
      {"not deflate", OleVariant::Bytes(stored_method), 100, false},
      {"one byte", OleVariant::Bytes(std::string("\x78")), 1, false},
      {"text variant", OleVariant::OleStr(packet), 100, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsPacketBulk(c.value, c.message_size), c.expected) << c.name;
}

class PacketRepliesTest : public RpcServerTest {};

TEST_F(PacketRepliesTest, PacketRepliesGoPlainOtherLargeRepliesAreDeflated) {
  const std::string plain = Rows(300'000);
  const struct {
    const char* name;
    OleVariant value;
    bool deflated;
  } cases[] = {
      {"zlib packet", OleVariant::Bytes(ZlibStream(plain, 6)), false},
      {"small zlib packet", OleVariant::Bytes(ZlibStream(Rows(50'000), 6)), false},
      {"plain bytes", OleVariant::Bytes(plain), true},
      {"text", OleVariant::OleStr(plain), true},
  };
  RawClient raw(Port());
  raw.Login();
  for (const auto& c : cases) {
    raw.Send(Frame(EchoCall(c.value)));
    FrameHeader h;
    std::string payload;
    ASSERT_TRUE(raw.ReadFrame(h, payload)) << c.name;
    EXPECT_EQ((h.flags & kFrameDeflated) != 0, c.deflated) << c.name;
    TDSFrameCodec codec(kDefaultCompressMoreThan, kDefaultMaxFrameSize);
    ReplyMessage reply;
    DecodeReply(codec.Unpack(h, payload), reply);
    EXPECT_EQ(reply.Result, c.value) << c.name;
  }
}

TEST_F(PacketRepliesTest, ClientSendsPacketsAndGetsThemBackIntact) {
  auto client = Connect();
  for (const std::string& plain : {Rows(2'000), Rows(400'000)}) {
    const OleVariant packet = OleVariant::Bytes(ZlibStream(plain, 6));
    EXPECT_EQ(client->Call(kClass, "Echo", std::span(&packet, 1)).Result, packet);
  }
}

TEST_F(PacketRepliesTest, FramesAreReadHoweverTheirBytesArrive) {
  RawClient raw(Port());
  raw.Login();
  const auto expect_echo = [&](int32_t n) {
    std::string m;
    ASSERT_TRUE(raw.ReadMessage(m)) << n;
    ReplyMessage reply;
    DecodeReply(m, reply);
    EXPECT_EQ(reply.Result, OleVariant(n));
  };
  // Three calls in one write, the last one large: answered one after the other, in order.
  std::string three = Frame(EchoCall(OleVariant(int32_t{1}))) +
                      Frame(EchoCall(OleVariant(int32_t{2}))) +
                      Frame(EchoCall(OleVariant::Bytes(Rows(100'000))));
  raw.Send(three);
  expect_echo(1);
  expect_echo(2);
  std::string m;
  ASSERT_TRUE(raw.ReadMessage(m));
  ReplyMessage big;
  DecodeReply(m, big);
  EXPECT_EQ(big.Result, OleVariant::Bytes(Rows(100'000)));
  // A frame sent a few bytes at a time, the header split in the middle.
  const std::string split = Frame(EchoCall(OleVariant(int32_t{3})));
  for (size_t at = 0; at < split.size(); at += 3) {
    raw.Send(split.substr(at, 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  expect_echo(3);
  // A frame followed at once by the start of the next one; the rest comes later.
  const std::string next = Frame(EchoCall(OleVariant(int32_t{5})));
  raw.Send(Frame(EchoCall(OleVariant(int32_t{4}))) + next.substr(0, 7));
  expect_echo(4);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  raw.Send(next.substr(7));
  expect_echo(5);
}

}  // namespace
}  // namespace velmora::test
