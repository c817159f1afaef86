// Names compared by Unicode simple case folding (variant/name_fold.h): which pairs are one name,
// which are not, and that malformed UTF-8 is compared byte for byte without reading past the end.
#include "variant/name_fold.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "variant/case_folding_table.h"

namespace velmora::test {
namespace {

struct NamePair {
  std::string a;
  std::string b;
  const char* what;
};

const std::vector<NamePair>& SameNames() {
  static const std::vector<NamePair> pairs = {
      {"", "", "empty"},
      {"CustomerID", "customerid", "ASCII"},
      {"A_1$#", "a_1$#", "ASCII with digits and signs"},
      {"\xC3\x84", "\xC3\xA4", "Latin-1 \xC3\x84 and \xC3\xA4"},
      {"\xC3\x84PFEL", "\xC3\xA4pfel", "\xC3\x84PFEL and \xC3\xA4pfel"},
      {"\xC3\x96l", "\xC3\xB6L", "\xC3\x96l and \xC3\xB6L"},
      {"\xCE\xA3", "\xCF\x83", "Greek capital and small sigma"},
      {"\xCF\x82", "\xCF\x83", "Greek final sigma folds to sigma"},
      {"\xCE\xA3", "\xCF\x82", "Greek capital and final sigma"},
      {"\xD0\x94\xD0\x90\xD0\x9D\xD0\x9D\xD0\xAB\xD0\x95",
       "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5", "Cyrillic"},
      {"\xD0\x81", "\xD1\x91", "Cyrillic IO"},
      {"\xC4\x80", "\xC4\x81", "Latin Extended-A, alternating case"},
      {"\xE2\x84\xAA", "k", "Kelvin sign and k: three bytes against one"},
      {"\xC5\xBF", "S", "long s and S"},
      {"\xC2\xB5", "\xCE\xBC", "micro sign and mu"},
      {"\xC8\xBA", "\xE2\xB1\xA5", "A with stroke: two bytes against three"},
      {"\xE1\xBA\x9E", "\xC3\x9F", "capital sharp s and sharp s"},
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8", "Deseret, four bytes"},
      {"\xFF", "\xFF", "an invalid byte matches itself"},
      {"\xC3", "\xC3", "a cut sequence matches itself"},
      {"\xC3\x41", "\xC3\x61", "a stray lead byte stays, the A after it folds"},
      {"\xED\xA0\x80", "\xED\xA0\x80", "an encoded surrogate matches itself"},
  };
  return pairs;
}

const std::vector<NamePair>& DifferentNames() {
  static const std::vector<NamePair> pairs = {
      {"", "a", "empty and one letter"},
      {"Name", "Names", "prefix"},
      {"Name", "Nane", "ASCII"},
      {"\xC3\x9F", "ss", "sharp s and ss: full folding only"},
      {"\xC3\x9F", "SS", "sharp s and SS"},
      {"\xC4\xB1", "i", "dotless i and i: Turkic folding not used"},
      {"\xC4\xB1", "I", "dotless i and I"},
      {"\xC4\xB0", "i", "dotted capital I and i"},
      {"\xC4\xB0", "I", "dotted capital I and I"},
      {"A", "\xCE\x91", "Latin A and Greek Alpha"},
      {"\xC4\x81", "\xC4\x82", "neighbours in an alternating run"},
      {"\xC3\x84", "\xC3\x85", "\xC3\x84 and \xC3\x85"},
      {"\xC4", "\xE4", "Latin-1 bytes are invalid UTF-8, compared exactly"},
      {"\xC3", "\xC3\x84", "a cut sequence and the whole one"},
      {"\xC3", "", "a cut sequence and nothing"},
      {"\xC1\x81", "a", "overlong A and a"},
      {"\xC1\x81", "A", "overlong A and A"},
      {"\xE0\x81\x81", "A", "three-byte overlong A"},
      {"\xED\xA0\x80", "\xED\xA0\x81", "two encoded surrogates"},
      {"\xF4\x90\x80\x80", "\xF4\x90\x80\x81", "two sequences above U+10FFFF"},
      {"\xCE", "\xCF", "two cut Greek letters"},
  };
  return pairs;
}

TEST(NameFold, NamesThatAreOne) {
  for (const NamePair& p : SameNames()) {
    EXPECT_TRUE(NamesEqual(p.a, p.b)) << p.what;
    EXPECT_TRUE(NamesEqual(p.b, p.a)) << p.what;
    EXPECT_EQ(FoldName(p.a), FoldName(p.b)) << p.what;
  }
}

TEST(NameFold, NamesThatDiffer) {
  for (const NamePair& p : DifferentNames()) {
    EXPECT_FALSE(NamesEqual(p.a, p.b)) << p.what;
    EXPECT_FALSE(NamesEqual(p.b, p.a)) << p.what;
    EXPECT_NE(FoldName(p.a), FoldName(p.b)) << p.what;
  }
}

TEST(NameFold, FoldedFormOfNames) {
  EXPECT_EQ(FoldName("CustomerID"), "customerid");
  EXPECT_EQ(FoldName("\xC3\x84PFEL"), "\xC3\xA4pfel");
  EXPECT_EQ(FoldName("\xCE\xA3\xCF\x82"), "\xCF\x83\xCF\x83");
  EXPECT_EQ(FoldName("\xE2\x84\xAA"), "k");
  EXPECT_EQ(FoldName("\xC8\xBA"), "\xE2\xB1\xA5");
  EXPECT_EQ(FoldName("\xC3\x9F"), "\xC3\x9F");
  EXPECT_EQ(FoldName("X\xFF\xC3"), "x\xFF\xC3");
}

// A name that ends inside a sequence is read only up to its end. The cut names below lie in
// buffers whose next bytes would complete an "\xC3\x84" (Ä) that folds like "\xC3\xA4" (ä), so a
// read past the end shows as a match; under AddressSanitizer the heap buffer of exactly one byte
// also stops it.
TEST(NameFold, NothingIsReadPastTheEndOfAName) {
  const std::string whole = "\xC3\x84";
  const std::string_view cut(whole.data(), 1);
  EXPECT_FALSE(NamesEqual(cut, "\xC3\xA4"));
  EXPECT_FALSE(NamesEqual("\xC3\xA4", cut));
  EXPECT_EQ(FoldName(cut), "\xC3");

  const std::unique_ptr<char[]> lone(new char[1]{'\xC3'});
  const std::string_view alone(lone.get(), 1);
  EXPECT_TRUE(NamesEqual(alone, "\xC3"));
  EXPECT_EQ(FoldName(alone), "\xC3");

  const std::string four = "\xF0\x90\x90\x80";  // 𐐀, folds to 𐐨
  for (size_t n = 1; n < four.size(); ++n) {
    const std::string_view part(four.data(), n);
    EXPECT_FALSE(NamesEqual(part, "\xF0\x90\x90\xA8")) << n;
    EXPECT_EQ(FoldName(part), four.substr(0, n)) << n;
  }
}

// The table as a whole: runs in order, and folding is idempotent (a folded code point is a
// fixed point), which a wrong delta or a misplaced run breaks. 1454 code points of Unicode 15.0
// have a simple folding (CaseFolding.txt, statuses C and S).
TEST(NameFold, TableIsOrderedAndFoldingIsIdempotent) {
  char32_t next_free = 0;
  for (const CaseFoldingRun& run : CaseFoldingRuns()) {
    EXPECT_GE(run.first, next_free);
    EXPECT_TRUE(run.step == 1 || run.step == 2);
    EXPECT_GT(run.count, 0);
    next_free = run.first + (run.count - 1) * run.step + 1;
  }
  int folded = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const char32_t f = FoldCodePoint(c);
    if (f == c) continue;
    ++folded;
    ASSERT_EQ(FoldCodePoint(f), f) << std::hex << static_cast<uint32_t>(c);
  }
  EXPECT_EQ(folded, 1454);
  EXPECT_EQ(FoldCodePoint(U'Z'), U'z');
  EXPECT_EQ(FoldCodePoint(0x0130), 0x0130u);  // İ: Turkic and full folding only
  EXPECT_EQ(FoldCodePoint(0x1E9E), 0x00DFu);  // ẞ -> ß
  EXPECT_EQ(FoldCodePoint(0x10FFFF), 0x10FFFFu);
}

}  // namespace
}  // namespace velmora::test
