#include "variant/name_fold.h"

#include <algorithm>

#include "variant/case_folding_table.h"

namespace velmora {
namespace {

// What NextUnit reads: a code point, or kRawByte + the byte value for a byte that begins no
// well-formed sequence. Raw units lie above every code point, so the two never compare equal.
constexpr char32_t kRawByte = 0x110000;

unsigned char AsciiLowerByte(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Reads the unit that starts at s[i] and moves i past it. Well-formed means the shortest form of
// a code point up to U+10FFFF that is not a surrogate; anything else takes one byte as raw.
char32_t NextUnit(std::string_view s, size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  size_t length = 0;
  char32_t c = 0;
  unsigned char low = 0x80;  // the range of the second byte; later bytes are 0x80..0xBF
  unsigned char high = 0xBF;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong below
    if (lead == 0xED) high = 0x9F;  // surrogates above
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong below
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  }
  if (length == 0 || s.size() - i < length) {
    ++i;
    return kRawByte + lead;
  }
  for (size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (b < low || b > high) {
      ++i;
      return kRawByte + lead;
    }
    low = 0x80;
    high = 0xBF;
    c = (c << 6) | (b & 0x3F);
  }
  i += length;
  return c;
}

char32_t FoldUnit(char32_t unit) {
  return unit >= kRawByte ? unit : FoldCodePoint(unit);
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

char32_t FoldCodePoint(char32_t c) {
  if (c < 0x80) return AsciiLowerByte(static_cast<unsigned char>(c));
  const std::span<const CaseFoldingRun> runs = CaseFoldingRuns();
  // The last run that starts at or before c.
  auto run = std::upper_bound(runs.begin(), runs.end(), c,
                              [](char32_t v, const CaseFoldingRun& r) { return v < r.first; });
  if (run == runs.begin()) return c;
  --run;
  const char32_t offset = c - run->first;
  if (offset % run->step != 0 || offset / run->step >= run->count) return c;
  return static_cast<char32_t>(static_cast<int32_t>(c) + run->delta);
}

namespace name_fold_detail {

bool NamesEqualBeyondEnds(std::string_view a, std::string_view b) {
  // Fast path, in step through both names: bytes that are equal, or ASCII letters that differ only
  // in case. Most comparisons end here, ASCII names always.
  const size_t common = std::min(a.size(), b.size());
  size_t i = 0;
  for (; i < common; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x == y) continue;
    if ((x | y) >= 0x80) break;
    if ((x ^ y) != 0x20 || static_cast<unsigned char>((x | 0x20) - 'a') >= 26) return false;
  }
  if (i == a.size() && i == b.size()) return true;

  // Decode from the start of the code point that holds byte i. The bytes before i are the same in
  // both names, so that start is the same in both; a byte that is not a continuation byte always
  // starts a unit, and a sequence holding byte i starts at most three bytes before it.
  size_t start = i;
  for (size_t back = 1; back <= 3 && back <= i; ++back) {
    if ((static_cast<unsigned char>(a[i - back]) & 0xC0) != 0x80) {
      start = i - back;
      break;
    }
  }
  size_t j = start;
  i = start;
  while (i < a.size() && j < b.size()) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[j]);
    if ((x | y) < 0x80) {
      if (AsciiLowerByte(x) != AsciiLowerByte(y)) return false;
      ++i;
      ++j;
      continue;
    }
    const char32_t u = NextUnit(a, i);
    const char32_t v = NextUnit(b, j);
    if (u != v && FoldUnit(u) != FoldUnit(v)) return false;
  }
  return i == a.size() && j == b.size();
}

}  // namespace name_fold_detail

std::string FoldName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    const size_t start = i;
    const char32_t unit = NextUnit(name, i);
    if (unit >= kRawByte) {
      out += name[start];
    } else {
      AppendUtf8(out, FoldCodePoint(unit));
    }
  }
  return out;
}

}  // namespace velmora
