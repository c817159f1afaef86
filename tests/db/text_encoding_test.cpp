// UTF-8 to and from UTF-16 (db/core/text_encoding.h): valid text both ways unchanged, and what is
// not valid replaced by U+FFFD while the rest is kept.
#include "db/core/text_encoding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {
namespace {

TEST(Utf16Text, ValidTextRoundTrips) {
  const struct {
    const char* utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"plain", u"plain"},
      {"价格 €", u"价格 €"},
      {"emoji \xF0\x9F\x98\x80 end", u"emoji \U0001F600 end"},  // a surrogate pair
      {"\xEF\xBB\xBFmark", u"\uFEFFmark"},                      // U+FEFF is text, not a mark
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
  }
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(with_nul)), with_nul);
}

TEST(Utf16Text, InvalidInputBecomesReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    const char* name;
    std::u16string utf16;
    std::string utf8;
  } lone_surrogates[] = {
      {"a high surrogate alone", std::u16string(u"a") + char16_t(0xD800) + u"b", "a" + fffd + "b"},
      {"a low surrogate alone", std::u16string(u"a") + char16_t(0xDC00) + u"b", "a" + fffd + "b"},
      {"a high surrogate at the end", std::u16string(u"a") + char16_t(0xD83D), "a" + fffd},
      {"two high surrogates, then a pair", std::u16string{0xD800, 0xD83D, 0xDE00},
       fffd + "\xF0\x9F\x98\x80"},
  };
  for (const auto& c : lone_surrogates) {
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.name;
  }
  const struct {
    const char* name;
    std::string utf8;
    std::u16string utf16;
  } bad_utf8[] = {
      {"a byte that starts nothing",
       "a\xFF"
       "b",
       u"a\uFFFDb"},
      {"a stray continuation byte",
       "a\x80"
       "b",
       u"a\uFFFDb"},
      {"a sequence cut off at the end", "a\xE4\xBB", u"a\uFFFD\uFFFD"},
      {"an encoded surrogate",
       "\xED\xA0\x80"
       "x",
       u"\uFFFD\uFFFD\uFFFDx"},
  };
  for (const auto& c : bad_utf8) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.name;
  }
}

// Each thread converts with descriptors of its own.
TEST(Utf16Text, ThreadsConvertAtTheSameTime) {
  const std::string text = "中文 \xF0\x9F\x98\x80 " + std::string(1000, 'x');
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        if (Utf16ToUtf8(Utf8ToUtf16(text)) != text) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace velmora::test
