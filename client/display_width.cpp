#include "client/display_width.h"

#include <algorithm>
#include <iterator>

namespace velmora {
namespace {

struct Range {
  uint32_t first, last;
};

// Combining marks and zero-width characters.
constexpr Range kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
    {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064}, {0x20D0, 0x20FF}, {0x302A, 0x302D},
    {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF},
};

// East Asian wide (W) and fullwidth (F) blocks.
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
    {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
    {0x16FE0, 0x16FE4}, {0x17000, 0x18AFF}, {0x1B000, 0x1B2FF}, {0x1F300, 0x1F64F},
    {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

template <size_t N>
bool InRanges(const Range (&ranges)[N], uint32_t cp) {
  const auto it = std::upper_bound(std::begin(ranges), std::end(ranges), cp,
                                   [](uint32_t v, const Range& r) { return v < r.first; });
  return it != std::begin(ranges) && cp <= std::prev(it)->last;
}

}  // namespace

int CodePointWidth(uint32_t cp) {
  if (InRanges(kZeroWidth, cp)) return 0;
  if (InRanges(kWide, cp)) return 2;
  return 1;
}

size_t DisplayWidth(std::string_view s) {
  size_t width = 0;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<uint8_t>(s[i]);
    int len = b < 0x80             ? 1
              : (b & 0xE0) == 0xC0 ? 2
              : (b & 0xF0) == 0xE0 ? 3
              : (b & 0xF8) == 0xF0 ? 4
                                   : 0;
    uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1Fu) : len == 3 ? (b & 0x0Fu) : (b & 0x07u);
    for (int k = 1; k < len; ++k) {
      if (i + static_cast<size_t>(k) >= s.size() ||
          (static_cast<uint8_t>(s[i + static_cast<size_t>(k)]) & 0xC0) != 0x80) {
        len = 0;
        break;
      }
      cp = (cp << 6) | (static_cast<uint8_t>(s[i + static_cast<size_t>(k)]) & 0x3Fu);
    }
    if (len == 0) {  // not a valid sequence: one column for the byte
      ++width;
      ++i;
      continue;
    }
    width += static_cast<size_t>(CodePointWidth(cp));
    i += static_cast<size_t>(len);
  }
  return width;
}

}  // namespace velmora
