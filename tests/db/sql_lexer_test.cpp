#include "db/core/sql_lexer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace velmora::test {
namespace {

constexpr TSqlDialect kPlain{};
constexpr TSqlDialect kBracketsAndBackticks{.bracket_names = true, .backtick_names = true};
constexpr TSqlDialect kDoubledBrackets{.bracket_names = true, .bracket_doubling = true};
constexpr TSqlDialect kPostgres{.e_strings = true,
                                .nested_comments = true,
                                .dollar_bodies = true,
                                .dollar_in_words = true,
                                .dollar_starts_words = true};
constexpr TSqlDialect kFirebird{
    .q_strings = true, .dollar_in_words = true, .dollar_starts_words = true};

char KindLetter(TSqlTokenKind kind) {
  switch (kind) {
    case TSqlTokenKind::kBlank:
      return 'b';
    case TSqlTokenKind::kComment:
      return 'c';
    case TSqlTokenKind::kString:
      return 's';
    case TSqlTokenKind::kQuotedName:
      return 'n';
    case TSqlTokenKind::kDollarBody:
      return '$';
    case TSqlTokenKind::kWord:
      return 'w';
    case TSqlTokenKind::kNumber:
      return '9';
    case TSqlTokenKind::kPunct:
      return 'p';
  }
  return '?';
}

// Each token as its kind letter and its bytes in brackets, "!" behind one the text ends inside.
// Also checks that the tokens tile the text.
std::string Tokens(std::string_view text, const TSqlDialect& dialect) {
  std::string out;
  size_t expected_begin = 0;
  TSqlLexer lexer(text, dialect);
  for (TSqlToken token; lexer.Next(token);) {
    EXPECT_EQ(token.begin, expected_begin) << text;
    EXPECT_LT(token.begin, token.end) << text;
    EXPECT_EQ(token.text, text.substr(token.begin, token.end - token.begin)) << text;
    expected_begin = token.end;
    out += KindLetter(token.kind);
    out += '[';
    out.append(token.text);
    out += ']';
    if (!token.closed) out += '!';
  }
  EXPECT_EQ(expected_begin, text.size()) << text;
  return out;
}

struct LexCase {
  const char* text;
  const TSqlDialect* dialect;
  const char* tokens;
};

TEST(SqlLexerTest, CutsTextIntoTokensByTheDialectsQuotes) {
  const LexCase cases[] = {
      {"SELECT a1,2x\t\n:名前;", &kPlain, "w[SELECT]b[ ]w[a1]p[,]9[2x]b[\t\n]p[:]w[名前]p[;]"},
      {"'it''s' \"a\"\"b\"::t", &kPlain, "s['it''s']b[ ]n[\"a\"\"b\"]p[:]p[:]w[t]"},
      // A line comment stops before its "\n"; block comments nest only where the dialect says.
      {"a -- c ;\nb", &kPlain, "w[a]b[ ]c[-- c ;]b[\n]w[b]"},
      {"-- last", &kPlain, "c[-- last]"},
      {"/* a /* b */ c */", &kPlain, "c[/* a /* b */]b[ ]w[c]b[ ]p[*]p[/]"},
      {"/* a /* b */ c */x", &kPostgres, "c[/* a /* b */ c */]w[x]"},
      {"- - /", &kPlain, "p[-]b[ ]p[-]b[ ]p[/]"},
      // Backslash escapes only in E'..' of a dialect that has them.
      {"E'it\\'s' e'\\\\' TABLE'\\'", &kPostgres, "s[E'it\\'s']b[ ]s[e'\\\\']b[ ]w[TABLE]s['\\']"},
      {"E'it\\'s'", &kPlain, "w[E]s['it\\']w[s]s[']!"},
      {"q'{it's}' Q'!a!'q'", &kFirebird, "s[q'{it's}']b[ ]s[Q'!a!']w[q]s[']!"},
      {"q'{x}'", &kPlain, "w[q]s['{x}']"},
      // Dollar bodies: "$1" and a "$" inside a word open none.
      {"$$a;'b$$ $fn$ $$ $fn$ $1 a$b$ $", &kPostgres,
       "$[$$a;'b$$]b[ ]$[$fn$ $$ $fn$]b[ ]w[$1]b[ ]w[a$b$]b[ ]w[$]"},
      {"$$x$$$$y$$", &kPostgres, "$[$$x$$]w[$$y$$]"},
      {"$$x$$", &kPlain, "p[$]p[$]w[x]p[$]p[$]"},
      {"$a $$b", &kFirebird, "w[$a]b[ ]w[$$b]"},
      // Bracket and backtick names exist only where the dialect says; "]]" doubles only there.
      {"[a]]b] `c``d`", &kBracketsAndBackticks, "n[[a]]p[]]w[b]p[]]b[ ]n[`c``d`]"},
      {"[a]]b]", &kDoubledBrackets, "n[[a]]b]]"},
      {"a[1] `x`", &kPlain, "w[a]p[[]9[1]p[]]b[ ]p[`]w[x]p[`]"},
      // The text ending inside a quote or comment: the rest is that token.
      {"x 'abc", &kPlain, "w[x]b[ ]s['abc]!"},
      {"x 'a''", &kPlain, "w[x]b[ ]s['a'']!"},
      {"\"ab", &kPlain, "n[\"ab]!"},
      {"[ab", &kBracketsAndBackticks, "n[[ab]!"},
      {"/* ab *", &kPlain, "c[/* ab *]!"},
      {"/* /* */", &kPostgres, "c[/* /* */]!"},
      {"E'ab\\", &kPostgres, "s[E'ab\\]!"},
      {"$t$ abc $t", &kPostgres, "$[$t$ abc $t]!"},
      {"q'(abc)", &kFirebird, "s[q'(abc)]!"},
  };
  for (const LexCase& c : cases) EXPECT_EQ(Tokens(c.text, *c.dialect), c.tokens) << c.text;
}

// Texts glued from quote openers and closers, in every dialect: each is cut into tokens that
// tile it, none empty, and only a token running to the end of the text may be unclosed.
TEST(SqlLexerTest, TokensTileAnyTextInEveryDialect) {
  const char* pieces[] = {"'",  "\"", "E'", "q'{", "}'", "$$", "$a$", "$1", "--", "/*", "*/",
                          "\n", " ",  "[",  "]",   "`",  "\\", "a",   "9",  ";",  "$",  "名"};
  const TSqlDialect* dialects[] = {&kPlain, &kBracketsAndBackticks, &kDoubledBrackets, &kPostgres,
                                   &kFirebird};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int k = static_cast<int>(random() % 12); k > 0; --k) {
      text += pieces[random() % std::size(pieces)];
    }
    for (const TSqlDialect* dialect : dialects) {
      TSqlLexer lexer(text, *dialect);
      size_t at = 0;
      for (TSqlToken token; lexer.Next(token);) {
        ASSERT_EQ(token.begin, at) << text;
        ASSERT_GT(token.end, token.begin) << text;
        ASSERT_LE(token.end, text.size()) << text;
        if (!token.closed) {
          EXPECT_EQ(token.end, text.size()) << text;
        }
        at = token.end;
      }
      ASSERT_EQ(at, text.size()) << text;
    }
  }
}

TEST(SqlLexerTest, SeekGoesOnReadingFromThere) {
  const std::string_view text = "a 'b' c";
  TSqlLexer lexer(text, kPlain);
  TSqlToken token;
  ASSERT_TRUE(lexer.Next(token));
  lexer.Seek(3);  // inside the literal: its bytes are read as they come
  ASSERT_TRUE(lexer.Next(token));
  EXPECT_EQ(token.text, "b");
  ASSERT_TRUE(lexer.Next(token));
  EXPECT_EQ(token.text, "' c");
  EXPECT_FALSE(token.closed);
  EXPECT_FALSE(lexer.Next(token));
}

}  // namespace
}  // namespace velmora::test
