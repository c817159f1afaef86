// One lexer for the SQL of every engine: it cuts a command text into tokens, so that the code that
// looks for parameter markers, statement ends or stored-code bodies never has to know the quoting
// rules itself. Which quotes and comments exist is the caller's dialect (TSqlDialect).
//
// The rules:
// - The tokens tile the text: every byte belongs to exactly one token, in order. A token is a
//   byte range [begin, end) of the text; nothing is copied or allocated per token.
// - Blank: a run of " ", "\t", "\n", "\r", "\f", "\v".
// - Comment: "--" up to the end of the line (the "\n" is not part of it: it starts the next blank)
//   or "/*" up to the first "*/"; with nested_comments, every "/*" inside opens one more level
//   that its own "*/" closes.
// - String: '..' where '' inside is one quote. With e_strings, E'..' (e' alike) also takes
//   backslash escapes ("\'" does not close it). With q_strings, q'<open>..<close>' (Q alike),
//   where <close> is ")", "}", "]" or ">" for "(", "{", "[", "<" and <open> itself for any other
//   byte; the string ends at the first <close> followed by "'".
// - Quoted name: ".." (double_quote_names), [..] (bracket_names; "]]" inside is one "]" only
//   with bracket_doubling) and `..` (backtick_names); a doubled closing quote inside is one quote.
// - Dollar body (dollar_bodies): "$$" or "$tag$" (tag: a letter, "_" or non-ASCII byte, then
//   letters, digits, "_" or non-ASCII bytes) up to the same quote again, quotes included. With
//   dollar_in_words, a "$" right after a letter, digit, "_", non-ASCII byte or "$" opens none
//   ("a$b$" is one word; "$$x$$$$y$$" is a body and the word "$$y$$").
// - Word: a letter, "_" or non-ASCII byte, then letters, digits, "_", non-ASCII bytes, and "$"
//   with dollar_in_words. With dollar_starts_words, a "$" that opens no body starts a word too
//   ("$1", "$x"). Number: a digit, then the same characters as a word.
// - Punctuation: any other single byte, one token each (";", ":", "?"...).
// - Unterminated: a string, quoted name, block comment or dollar body that the text ends inside
//   runs to the end of the text, and its token says closed = false.
//
// Thread rules: a TSqlLexer is a cursor over a text it does not own (the text must outlive it),
// for one thread. Dialects are plain constants, shared freely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora {

struct TSqlDialect {
  bool e_strings = false;            // E'..' with backslash escapes (PostgreSQL)
  bool q_strings = false;            // q'{..}' (Firebird)
  bool double_quote_names = true;    // ".."
  bool bracket_names = false;        // [..]
  bool bracket_doubling = false;     // "]]" inside [..] is one "]"
  bool backtick_names = false;       // `..`
  bool nested_comments = false;      // /* /* */ */ (PostgreSQL)
  bool dollar_bodies = false;        // $$..$$, $tag$..$tag$ (PostgreSQL)
  bool dollar_in_words = false;      // "a$b" is one word
  bool dollar_starts_words = false;  // "$a" is one word (where no dollar body opens)
};

enum class TSqlTokenKind : uint8_t {
  kBlank,
  kComment,
  kString,
  kQuotedName,
  kDollarBody,
  kWord,
  kNumber,
  kPunct,
};

struct TSqlToken {
  TSqlTokenKind kind = TSqlTokenKind::kPunct;
  bool closed = true;  // false for a string, quoted name, comment or body the text ends inside
  size_t begin = 0;
  size_t end = 0;
  std::string_view text;  // the token's bytes: the text's [begin, end)
};

class TSqlLexer {
 public:
  // The dialect must outlive the lexer (a constant, as a rule).
  TSqlLexer(std::string_view text, const TSqlDialect& dialect, size_t position = 0);

  // Reads the token at the current position into `token` and moves past it; false at the end.
  bool Next(TSqlToken& token);

  // Where the next token starts. Seek lets a caller that takes in more than a token (a parameter
  // name, a statement terminator of its own) go on reading behind it.
  size_t Position() const { return position_; }
  void Seek(size_t position) { position_ = position; }

 private:
  size_t QuotedEnd(size_t open, char close, bool doubling, bool& closed) const;
  size_t BackslashStringEnd(size_t open, bool& closed) const;
  size_t QStringEnd(size_t open, bool& closed) const;
  size_t BlockCommentEnd(size_t begin, bool& closed) const;
  size_t DollarBodyEnd(size_t begin, bool& closed) const;  // `begin` when no body opens there
  size_t WordEnd(size_t begin) const;
  uint8_t ClassOf(char c) const { return classes_[static_cast<unsigned char>(c)]; }

  std::string_view text_;
  const TSqlDialect& dialect_;
  const uint8_t* classes_;  // what each byte is in this dialect (blank, word start, ...)
  size_t position_;
};

}  // namespace velmora
