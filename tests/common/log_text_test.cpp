// Log text escaping: what could start a line, reorder one or hide in one is shown escaped, and
// everything else, Chinese text and emoji included, is kept byte for byte.
#include "common/log_text.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace velmora::test {
namespace {

TEST(EscapeForLog, ShowsWhatCouldSplitOrReorderALine) {
  const struct {
    std::string label, text, shown;
  } cases[] = {
      {"plain", "admin 服务启动完成 😀 \\u2028", "admin 服务启动完成 😀 \\u2028"},
      {"C0 controls", "a\nb\rc\td\x1b[2J\x7f", "a\\nb\\rc\\td\\u001B[2J\\u007F"},
      {"NEL",
       "a\xc2\x85"
       "b",
       "a\\u0085b"},
      {"line and paragraph separators",
       "x\xe2\x80\xa8"
       "2026-12-11 11:00:00>>>服务关闭完成\xe2\x80\xa9",
       "x\\u20282026-12-11 11:00:00>>>服务关闭完成\\u2029"},
      {"bidirectional controls",
       "\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xac\xe2\x80\xad\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa7"
       "\xe2\x81\xa8\xe2\x81\xa9\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c",
       "\\u202A\\u202B\\u202C\\u202D\\u202E\\u2066\\u2067\\u2068\\u2069\\u200E\\u200F\\u061C"},
      {"other format characters",
       "a\xe2\x80\x8b"
       "b\xef\xbb\xbf"
       "c\xc2\xad",
       "a\\u200Bb\\uFEFFc\\u00AD"},
      {"tag characters above the BMP", "\xf3\xa0\x80\x81\xf3\xa0\x81\xbf",
       "\\U000E0001\\U000E007F"},
      {"stray and truncated bytes",
       "a\xff"
       "b\x80\xe4\xb8",
       "a\\xFFb\\x80\\xE4\\xB8"},
      {"overlong forms", "\xc0\xaf\xe0\x80\xaf", "\\xC0\\xAF\\xE0\\x80\\xAF"},
      {"surrogates and beyond U+10FFFF", "\xed\xa0\x80\xf4\x90\x80\x80",
       "\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80"},
      {"a NUL", std::string("a\0b", 3), "a\\u0000b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(EscapeForLog(c.text), c.shown);
    // Escaping is done once: a text already escaped stays as it is.
    EXPECT_EQ(EscapeForLog(c.shown), c.shown);
  }
}

TEST(EscapeForLog, TheEscapedSetEndsWhereItsRangesEnd) {
  const struct {
    char32_t code_point;
    bool escaped;
  } cases[] = {
      {0x1F, true},      {0x20, false},   {0x7E, false},   {0x7F, true},     {0x9F, true},
      {0xA0, false},     {0x200A, false}, {0x200B, true},  {0x200F, true},   {0x2010, false},
      {0x2027, false},   {0x202E, true},  {0x202F, false}, {0x2065, false},  {0x206F, true},
      {0x2070, false},   {0xFEFE, false}, {0xFFFD, false}, {0xE0000, false}, {0xE0080, false},
      {0x10FFFF, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsEscapedInLog(c.code_point), c.escaped)
        << std::hex << static_cast<uint32_t>(c.code_point);
  }
}

}  // namespace
}  // namespace velmora::test
