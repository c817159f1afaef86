#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>

#include "codec/uCompressionStream.h"

namespace velmora::test {
namespace {

// Text-like and random halves, so that every level has something to do.
std::string Sample(size_t n, uint32_t seed = 7) {
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n);
  static const char* kWords[] = {"SELECT ", "id", ", name", " FROM ", "orders", " WHERE ", "1;\n"};
  while (s.size() < n / 2) s += kWords[rng() % 7];
  while (s.size() < n) s += static_cast<char>(rng());
  s.resize(n);
  return s;
}

std::string Compressed(const std::string& plain, int selector) {
  TMemoryStream m(plain);
  CompressMemoryStream(m, selector);
  EXPECT_EQ(m.Position(), 0u);
  return m.Buffer();
}

std::string Decompressed(const std::string& packed) {
  TMemoryStream m(packed);
  DecompressMemoryStream(m);
  EXPECT_EQ(m.Position(), 0u);
  return m.Buffer();
}

// The content of a packet as zlib's own one-shot inflater reads it.
std::string ZlibInflated(const std::string& packed, size_t plain_size) {
  std::string out(plain_size + 1, '\0');
  uLongf n = static_cast<uLongf>(out.size());
  EXPECT_EQ(
      uncompress(reinterpret_cast<Bytef*>(out.data()), &n,
                 reinterpret_cast<const Bytef*>(packed.data()), static_cast<uLong>(packed.size())),
      Z_OK);
  out.resize(n);
  return out;
}

// The level class a zlib header names (FLEVEL): 0 fastest, 1 fast, 2 default, 3 best.
int HeaderLevelClass(const std::string& packed) {
  return static_cast<uint8_t>(packed.at(1)) >> 6;
}

TEST(CompressionStream, SelectorChoosesTheDeflateLevel) {
  const std::string plain = Sample(200'000);
  const struct {
    int selector;
    int level_class;
  } cases[] = {{1, 0}, {2, 2}, {3, 3}, {7, 3}, {-1, 3}, {1000, 3}};
  for (const auto& c : cases) {
    const std::string packed = Compressed(plain, c.selector);
    EXPECT_EQ(HeaderLevelClass(packed), c.level_class) << "selector " << c.selector;
    EXPECT_EQ(ZlibInflated(packed, plain.size()), plain) << "selector " << c.selector;
  }
  // The levels really differ: each higher one packs this input tighter.
  EXPECT_GT(Compressed(plain, 1).size(), Compressed(plain, 2).size());
  EXPECT_GT(Compressed(plain, 2).size(), Compressed(plain, 9).size());
}

// A packet is a standard zlib stream: zlib's inflater reads what the codec writes at every level,
// and the codec reads what zlib's deflater writes.
TEST(CompressionStream, InteroperatesWithZlib) {
  for (const std::string& plain :
       {std::string(), std::string("x"), Sample(70'000), Sample(1'500'000, 3)}) {
    for (int selector : {0, 1, 2, 9}) {
      EXPECT_EQ(ZlibInflated(Compressed(plain, selector), plain.size()), plain)
          << plain.size() << " bytes, selector " << selector;
    }
    for (int level : {0, 1, 6, 9}) {
      uLongf n = compressBound(static_cast<uLong>(plain.size()));
      std::string packed(n, '\0');
      ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &n,
                          reinterpret_cast<const Bytef*>(plain.data()),
                          static_cast<uLong>(plain.size()), level),
                Z_OK);
      packed.resize(n);
      EXPECT_EQ(Decompressed(packed), plain) << plain.size() << " bytes, level " << level;
    }
  }
}

TEST(CompressionStream, SelectorZeroWritesStoredBlocks) {
  const std::string plain = Sample(70'000);
  const std::string packed = Compressed(plain, 0);
  ASSERT_GT(packed.size(), plain.size());
  // First block header after the two-byte zlib header: BTYPE 00 (stored), LEN/NLEN follow.
  EXPECT_EQ(static_cast<uint8_t>(packed[2]) & 0x06, 0);
  const uint16_t len = static_cast<uint8_t>(packed[3]) | static_cast<uint8_t>(packed[4]) << 8;
  const uint16_t nlen = static_cast<uint8_t>(packed[5]) | static_cast<uint8_t>(packed[6]) << 8;
  EXPECT_EQ(static_cast<uint16_t>(~len), nlen);
  EXPECT_EQ(packed.substr(7, len), plain.substr(0, len));
  EXPECT_EQ(Decompressed(packed), plain);
}

// Below the transport's compression threshold every selector writes stored blocks (a deflater's
// set-up costs more than such a packet); from it on the selector's level holds.
TEST(CompressionStream, SmallContentIsStoredAtEverySelector) {
  for (const size_t size : {size_t{1}, size_t{414}, kStoredPacketBelow - 1, kStoredPacketBelow}) {
    const std::string plain(size, 'a');  // would shrink at any deflating level
    for (int selector : {1, 2, 9}) {
      const std::string packed = Compressed(plain, selector);
      const bool stored = size < kStoredPacketBelow;
      EXPECT_EQ((static_cast<uint8_t>(packed[2]) & 0x06) == 0, stored)
          << size << " bytes, selector " << selector;
      EXPECT_EQ(packed.size() > plain.size(), stored) << size << " bytes, selector " << selector;
      EXPECT_EQ(ZlibInflated(packed, plain.size()), plain);
    }
  }
}

TEST(CompressionStream, HeaderAndAdlerTrailer) {
  const std::string plain = Sample(10'000);
  const std::string packed = Compressed(plain, 2);
  ASSERT_GE(packed.size(), 6u);
  EXPECT_EQ(static_cast<uint8_t>(packed[0]), 0x78);  // deflate, window bits 15
  EXPECT_EQ((static_cast<uint8_t>(packed[0]) * 256 + static_cast<uint8_t>(packed[1])) % 31, 0);
  const uLong adler = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(plain.data()),
                              static_cast<uInt>(plain.size()));
  const auto* t = reinterpret_cast<const uint8_t*>(packed.data() + packed.size() - 4);
  EXPECT_EQ(uLong{t[0]} << 24 | uLong{t[1]} << 16 | uLong{t[2]} << 8 | t[3], adler);
}

TEST(CompressionStream, RoundTripsExactly) {
  for (const std::string& plain :
       {std::string(), std::string(1, '\0'), std::string("x"), Sample(511), Sample(512),
        Sample(513), Sample(3'000'000, 11), std::string(5'000'000, 'a')}) {
    for (int selector : {0, 1, 2, 9}) {
      const std::string packed = Compressed(plain, selector);
      ASSERT_EQ(Decompressed(packed), plain) << plain.size() << " bytes, selector " << selector;
    }
  }
}

TEST(CompressionStream, EmptyInputGivesEmptyOutput) {
  TMemoryStream m;
  DecompressMemoryStream(m);
  EXPECT_EQ(m.Size(), 0u);
}

TEST(CompressionStream, BytesAfterTheStreamAreIgnored) {
  const std::string plain = Sample(4000);
  EXPECT_EQ(Decompressed(Compressed(plain, 2) + "trailing garbage"), plain);
}

// Each bad input must raise and leave the stream's content as it was.
TEST(CompressionStream, RefusesBadInputAndKeepsTheContent) {
  const std::string plain = Sample(100'000);
  const std::string good = Compressed(plain, 2);
  std::string bad_header = good;
  bad_header[0] = 0x79;
  std::string bad_check = good;
  bad_check[1] = static_cast<char>(bad_check[1] + 1);
  std::string bad_adler = good;
  bad_adler.back() = static_cast<char>(bad_adler.back() ^ 1);
  std::string bad_data = good;
  bad_data[2] = static_cast<char>(0x07);  // reserved block type 11
  const struct {
    const char* label;
    std::string bytes;
  } cases[] = {
      {"bad method", bad_header},
      {"bad header check", bad_check},
      {"bad adler", bad_adler},
      {"bad block type", bad_data},
      {"plain text", "hello, this is not zlib"},
      {"header only", good.substr(0, 2)},
      {"truncated in the data", good.substr(0, good.size() / 2)},
      {"truncated in the trailer", good.substr(0, good.size() - 1)},
      {"single byte", std::string(1, '\x78')},
  };
  for (const auto& c : cases) {
    TMemoryStream m(c.bytes);
    EXPECT_THROW(DecompressMemoryStream(m), EZDecompressionError) << c.label;
    EXPECT_EQ(m.Buffer(), c.bytes) << c.label;
  }
}

TEST(CompressionStream, TruncatedStreamMessage) {
  TMemoryStream m(Compressed(Sample(1000), 2).substr(0, 20));
  try {
    DecompressMemoryStream(m);
    FAIL() << "no error";
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ(e.what(),
                 "Decompression error: the compressed data ends before the end of the stream");
  }
}

TEST(CompressionStream, ExpandsFarBeyondTheFirstGuess) {
  // 64 MB of zeros pack into ~64 KB; the output buffer must grow many times over.
  const std::string plain(size_t{64} << 20, '\0');
  const std::string packed = Compressed(plain, 9);
  EXPECT_LT(packed.size(), plain.size() / 500);
  EXPECT_TRUE(Decompressed(packed) == plain);
}

}  // namespace
}  // namespace velmora::test
