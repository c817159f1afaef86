// Framing and the zlib filter.
#include "rpc/frame_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/memory_budget.h"
#include "common/server_limits.h"
#include "rpc/frame_io.h"
#include "rpc/rpc_errors.h"

namespace velmora::test {
namespace {

std::string Compressible(size_t n) {
  std::string s;
  while (s.size() < n)
    s += "SELECT name, price FROM goods WHERE id = " + std::to_string(s.size()) + ";\n";
  s.resize(n);
  return s;
}

std::string Random(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 88172645u;
  for (char& c : s) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

// Text whose zlib stream is as dense as a real data packet's.
std::string Records(size_t n) {
  std::string s;
  uint32_t x = 2463534242u;
  while (s.size() < n) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    s += "id=" + std::to_string(x) + ";";
  }
  return s;
}

std::string Deflate(std::string_view s) {
  uLongf n = compressBound(static_cast<uLong>(s.size()));
  std::string out(n, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(s.data()),
           static_cast<uLong>(s.size()));
  out.resize(n);
  return out;
}

// A deflated payload as the filter sends it: the plain size, then the zlib stream.
std::string DeflatedPayload(uint32_t claimed, std::string_view zlib_stream) {
  std::string p(4, '\0');
  std::memcpy(p.data(), &claimed, 4);
  return p.append(zlib_stream);
}

class FrameCodecTest : public ::testing::Test {
 protected:
  // Seals `message`, checks the header, and unpacks it again with a second codec.
  std::string RoundTrip(const std::string& message, uint8_t& flags) {
    TDSFrameCodec::Begin(frame_);
    frame_ += message;
    sender_.Seal(frame_);
    const FrameHeader h = receiver_.ParseHeader(reinterpret_cast<const uint8_t*>(frame_.data()));
    EXPECT_EQ(h.length, frame_.size() - kFrameHeaderSize);
    flags = h.flags;
    return std::string(receiver_.Unpack(h, std::string_view(frame_).substr(kFrameHeaderSize)));
  }

  TDSFrameCodec sender_{1024, 1u << 20};
  TDSFrameCodec receiver_{1024, 1u << 20};
  std::string frame_;
};

TEST_F(FrameCodecTest, CompressesOnlyAboveTheThresholdAndOnlyWhenSmaller) {
  struct Case {
    std::string message;
    bool deflated;
  } cases[] = {
      {"", false},
      {"x", false},
      {Compressible(1024), false},  // not above the threshold
      {Compressible(1025), true},
      {Random(5000), false},  // already compressed data goes plain
      {Deflate(Records(200000)), false},
      {Random(300000), false},  // refused by the sample of its start
      {Compressible(300000), true},
  };
  for (int pass = 0; pass < 2; ++pass) {  // the same zlib states serve frame after frame
    for (const Case& c : cases) {
      SCOPED_TRACE(c.message.size());
      uint8_t flags = 0xff;
      EXPECT_EQ(RoundTrip(c.message, flags), c.message);
      EXPECT_EQ(flags, c.deflated ? kFrameDeflated : 0);
      if (c.deflated) {
        EXPECT_LT(frame_.size(), c.message.size());
      } else {
        EXPECT_EQ(frame_.size(), c.message.size() + kFrameHeaderSize);
      }
    }
  }
}

TEST_F(FrameCodecTest, HeaderChecksComeBeforeAnyPayload) {
  auto header = [](uint32_t length, uint8_t flags) {
    std::array<uint8_t, 5> h{};
    std::memcpy(h.data(), &length, 4);
    h[4] = flags;
    return h;
  };
  EXPECT_EQ(receiver_.ParseHeader(header(1u << 20, kFrameDeflated).data()).length, 1u << 20);
  EXPECT_THROW(receiver_.ParseHeader(header((1u << 20) + 1, 0).data()), EDSProtocolError);
  EXPECT_THROW(receiver_.ParseHeader(header(0xffffffffu, 0).data()), EDSProtocolError);
  EXPECT_THROW(receiver_.ParseHeader(header(1, 0x02).data()), EDSProtocolError);

  TDSFrameCodec::Begin(frame_);
  frame_.append((1u << 20) + 1, 'a');
  EXPECT_THROW(sender_.Seal(frame_), EDSProtocolError);
}

TEST_F(FrameCodecTest, CorruptDeflatedPayloadsAreRefused) {
  const std::string text = Compressible(5000);
  const std::string good = Deflate(text);
  const FrameHeader h{0, kFrameDeflated};
  ASSERT_EQ(receiver_.Unpack(h, DeflatedPayload(5000, good)), text);
  const std::string bad[] = {
      "",
      "\x10\x00",
      DeflatedPayload(4999, good),        // inflates to more than claimed
      DeflatedPayload(5001, good),        // to less
      DeflatedPayload(5000, good + "x"),  // bytes after the stream
      DeflatedPayload(5000, good.substr(0, good.size() / 2)),
      DeflatedPayload(5000, std::string(good.size(), 'Q')),
      DeflatedPayload((1u << 20) + 1, good),  // over the maximum
      DeflatedPayload(1u << 20, "\x78\x9c"),  // more than deflate can expand to
      DeflatedPayload(0, Deflate("")),
  };
  for (const std::string& payload : bad) {
    EXPECT_THROW(receiver_.Unpack(h, payload), EDSProtocolError) << payload.size();
  }
  // A refused payload leaves the codec usable.
  EXPECT_EQ(receiver_.Unpack(h, DeflatedPayload(5000, good)), text);
}

// The size a deflated payload claims is charged to the memory budget before anything is inflated:
// a claim past the budget is refused for the budget even when its stream is not even zlib, a good
// one holds exactly its size until Trim, and the codec serves the next frame either way.
TEST_F(FrameCodecTest, TheClaimedSizeIsChargedBeforeInflating) {
  MemoryBudget& budget = MemoryBudget::Process();
  const uint64_t before = budget.InUse();
  budget.SetTotal(before + (1u << 20));
  TDSFrameCodec receiver(1024, 16u << 20);
  const FrameHeader h{0, kFrameDeflated};
  const std::string text = Compressible(600 << 10);
  const std::string good = DeflatedPayload(static_cast<uint32_t>(text.size()), Deflate(text));
  EXPECT_THROW(receiver.Unpack(h, DeflatedPayload(2u << 20, std::string(2100, 'Q'))),
               EMemoryBudgetExceeded);
  EXPECT_EQ(budget.InUse(), before);
  ASSERT_EQ(receiver.Unpack(h, good), text);
  EXPECT_EQ(budget.InUse(), before + text.size());
  receiver.Trim();
  EXPECT_EQ(budget.InUse(), before);
  budget.SetTotal(Limits().MemoryBudget);
}

// A stream that yields some bytes, at most `most` a read, then the end.
struct ShortStream {
  std::string data;
  size_t at = 0;
  size_t most = SIZE_MAX;
  template <class Buffers>
  size_t read_some(const Buffers& buffers, asio::error_code& ec) {
    if (at == data.size()) {
      ec = asio::error::eof;
      return 0;
    }
    const size_t n = asio::buffer_copy(
        buffers, asio::buffer(data.data() + at, std::min(most, data.size() - at)));
    at += n;
    return n;
  }
  template <class Buffers>
  size_t read_some(const Buffers& buffers) {
    asio::error_code ec;
    return read_some(buffers, ec);
  }
};

TEST(FrameIoTest, BufferGrowsWithTheBytesThatArriveNotWithTheClaim) {
  TDSFrameCodec codec(1024, 256u << 20);
  ShortStream s;
  const uint32_t claimed = 200u << 20;
  s.data.resize(5);
  std::memcpy(s.data.data(), &claimed, 4);
  s.data.append(1000, 'x');
  std::string buffer;
  std::string_view message;
  EXPECT_FALSE(ReadFrame(s, codec, buffer, message));
  EXPECT_LT(buffer.capacity(), 1u << 20);

  ShortStream whole;
  whole.data = std::string(
      "\x03\x00\x00\x00\x00"
      "abc",
      8);
  EXPECT_TRUE(ReadFrame(whole, codec, buffer, message));
  EXPECT_EQ(message, "abc");
}

// A reply read by the client arrives in whatever pieces the socket gives: the header split
// across reads, the message in several, or all at once; nothing may follow it.
TEST(FrameIoTest, AReplyIsReadWholeHoweverItArrives) {
  const std::string text(40000, 'q');
  std::string frame(5, '\0');
  const uint32_t length = static_cast<uint32_t>(text.size());
  std::memcpy(frame.data(), &length, 4);
  frame += text;
  for (const size_t most :
       {size_t{1}, size_t{3}, size_t{5}, size_t{6}, kFrameFirstRead, frame.size()}) {
    SCOPED_TRACE(most);
    TDSFrameCodec codec(1024, 256u << 20);
    ShortStream s;
    s.data = frame;
    s.most = most;
    std::string buffer;
    std::string_view message;
    ASSERT_TRUE(ReadFrame(s, codec, buffer, message));
    EXPECT_EQ(message, text);
  }
  TDSFrameCodec codec(1024, 256u << 20);
  ShortStream trailing;
  trailing.data = std::string("\x02\x00\x00\x00\x00okX", 8);
  trailing.most = 8;
  std::string buffer;
  std::string_view message;
  EXPECT_THROW(ReadFrame(trailing, codec, buffer, message), EDSProtocolError);
}

}  // namespace
}  // namespace velmora::test
