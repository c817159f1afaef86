#include "codec/packet_pieces.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/uCompressionStream.h"

namespace velmora::test {
namespace {

// Text-like rows, random bytes, or both halves: Huffman blocks, stored blocks, and a switch.
enum class Kind { Text, Random, Mixed };

std::string Content(size_t n, Kind kind, uint32_t seed = 5) {
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n);
  const size_t text = kind == Kind::Text ? n : kind == Kind::Mixed ? n / 2 : 0;
  while (s.size() < text) s += "row " + std::to_string(rng() % 100000) + ";Name|note\n";
  s.resize(text);
  while (s.size() < n) s += static_cast<char>(rng());
  return s;
}

// The content as zlib's own inflater reads the packet, which must end exactly at its trailer.
std::string ZlibInflated(const std::vector<uint8_t>& packet, size_t content_size) {
  std::string out(content_size + 1, '\0');
  z_stream zs{};
  EXPECT_EQ(inflateInit(&zs), Z_OK);
  zs.next_in = const_cast<Bytef*>(packet.data());
  zs.avail_in = static_cast<uInt>(packet.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(zs.avail_in, 0u) << "bytes after the stream's end";
  out.resize(zs.total_out);
  inflateEnd(&zs);
  return out;
}

// The packet of `content` added in pieces of the given lengths, taken in turn; `added` counts
// the pieces as deflated (Add splits those above kPacketPiece).
std::vector<uint8_t> Built(const std::string& content, const std::vector<size_t>& pieces,
                           int selector = kPacketSelector, size_t* added = nullptr) {
  TPacketFromPieces packet(selector, content.size());
  size_t at = 0;
  for (size_t i = 0; at < content.size(); ++i) {
    const size_t n = std::min(content.size() - at, pieces[i % pieces.size()]);
    packet.Add(content.data() + at, n);
    if (added != nullptr) *added += (n + kPacketPiece - 1) / kPacketPiece;
    at += n;
  }
  return packet.Finish();
}

// Pieces of every shape join into one stream that any inflater reads back exactly: the last
// block of each piece ends at every bit offset across these cases, and a piece may hold one
// block or many, stored or Huffman-coded.
TEST(PacketFromPieces, JoinsPiecesIntoOneZlibStream) {
  const struct {
    size_t size;
    Kind kind;
    std::vector<size_t> pieces;
  } cases[] = {
      {0, Kind::Text, {kPacketPiece}},
      {1, Kind::Random, {kPacketPiece}},
      {1023, Kind::Text, {100, 1}},  // below kStoredPacketBelow: stored blocks
      {5000, Kind::Text, {1, 2, 3, 997}},
      {300'000, Kind::Text, {777, 4096, 65'536}},
      {300'000, Kind::Random, {70'000}},
      {3 * kPacketPiece + 12'345, Kind::Mixed, {kPacketPiece}},
      {2 * kPacketPiece, Kind::Text, {5 * kPacketPiece}},  // one Add, split inside
  };
  for (const auto& c : cases) {
    const std::string content = Content(c.size, c.kind);
    for (size_t first_piece = 0; first_piece < 3; ++first_piece) {
      std::vector<size_t> pieces = c.pieces;
      pieces[0] += first_piece * 331;  // moves every later join to other bit offsets
      size_t added = 0;
      const std::vector<uint8_t> packet = Built(content, pieces, kPacketSelector, &added);
      ASSERT_EQ(ZlibInflated(packet, content.size()), content)
          << c.size << " bytes, first piece " << pieces[0];
      EXPECT_LE(packet.size(), PacketBound(content.size()) + kPieceOverhead * added);
      // The codec's own reader takes it as well.
      TMemoryStream stream(std::string(packet.begin(), packet.end()));
      DecompressMemoryStream(stream);
      EXPECT_EQ(stream.Buffer(), content);
    }
  }
}

// The header names the level class of the selector, as CompressMemoryStream's does, and the
// text-like content really shrinks at the default level while pieces are joined.
TEST(PacketFromPieces, KeepsTheSelectorsLevelAndShrinksText) {
  const std::string content = Content(3 * kPacketPiece, Kind::Text);
  const struct {
    int selector;
    int level_class;
  } cases[] = {{0, 0}, {1, 0}, {2, 2}, {9, 3}};
  for (const auto& c : cases) {
    const std::vector<uint8_t> packet = Built(content, {kPacketPiece}, c.selector);
    EXPECT_EQ(packet.at(0), 0x78);
    EXPECT_EQ(packet.at(1) >> 6, c.level_class) << "selector " << c.selector;
    EXPECT_EQ(ZlibInflated(packet, content.size()), content) << "selector " << c.selector;
  }
  TMemoryStream whole(content);
  CompressMemoryStream(whole, kPacketSelector);
  const std::vector<uint8_t> pieces = Built(content, {kPacketPiece});
  EXPECT_LT(pieces.size(), content.size() / 4);
  // Three joins cost next to nothing against deflating the content whole.
  EXPECT_LT(pieces.size(), whole.Size() + whole.Size() / 50);
}

}  // namespace
}  // namespace velmora::test
