#include "db/core/sql_lexer.h"

#include <array>

namespace velmora {
namespace {

// Bits of a byte's class. kWordChar: a byte that continues a word.
enum : uint8_t { kBlankChar = 1, kWordStart = 2, kDigit = 4, kWordChar = 8 };

constexpr std::array<uint8_t, 256> MakeClasses(bool dollar_in_words) {
  std::array<uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
      classes[c] = kBlankChar;
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80) {
      classes[c] = kWordStart | kWordChar;
    } else if (c >= '0' && c <= '9') {
      classes[c] = kDigit | kWordChar;
    } else if (c == '$' && dollar_in_words) {
      classes[c] = kWordChar;
    }
  }
  return classes;
}

constexpr std::array<uint8_t, 256> kClasses = MakeClasses(false);
constexpr std::array<uint8_t, 256> kDollarWordClasses = MakeClasses(true);

// A letter, digit, "_" or non-ASCII byte: what follows the first byte of a dollar tag.
bool IsTagChar(char c) {
  return (kClasses[static_cast<unsigned char>(c)] & kWordChar) != 0;
}

char QStringClose(char open) {
  switch (open) {
    case '(':
      return ')';
    case '{':
      return '}';
    case '[':
      return ']';
    case '<':
      return '>';
    default:
      return open;
  }
}

}  // namespace

size_t TSqlLexer::QuotedEnd(size_t open, char close, bool doubling, bool& closed) const {
  size_t j = open + 1;
  for (;;) {
    j = text_.find(close, j);
    if (j == std::string_view::npos) {
      closed = false;
      return text_.size();
    }
    if (doubling && j + 1 < text_.size() && text_[j + 1] == close) {
      j += 2;
      continue;
    }
    return j + 1;
  }
}

size_t TSqlLexer::BackslashStringEnd(size_t open, bool& closed) const {
  size_t j = open + 1;
  while (j < text_.size()) {
    const char c = text_[j];
    if (c == '\\') {
      j += 2;
      continue;
    }
    if (c == '\'') {
      if (j + 1 < text_.size() && text_[j + 1] == '\'') {
        j += 2;
        continue;
      }
      return j + 1;
    }
    ++j;
  }
  closed = false;
  return text_.size();
}

size_t TSqlLexer::QStringEnd(size_t open, bool& closed) const {
  // `open` is the quote after q; the delimiter follows it.
  const char close = QStringClose(text_[open + 1]);
  for (size_t j = open + 2; j + 1 < text_.size(); ++j) {
    if (text_[j] == close && text_[j + 1] == '\'') return j + 2;
  }
  closed = false;
  return text_.size();
}

size_t TSqlLexer::BlockCommentEnd(size_t begin, bool& closed) const {
  if (!dialect_.nested_comments) {
    const size_t close = text_.find("*/", begin + 2);
    if (close != std::string_view::npos) return close + 2;
    closed = false;
    return text_.size();
  }
  int depth = 1;
  size_t j = begin + 2;
  while (j + 1 < text_.size()) {
    if (text_[j] == '/' && text_[j + 1] == '*') {
      ++depth;
      j += 2;
    } else if (text_[j] == '*' && text_[j + 1] == '/') {
      j += 2;
      if (--depth == 0) return j;
    } else {
      ++j;
    }
  }
  closed = false;
  return text_.size();
}

size_t TSqlLexer::DollarBodyEnd(size_t begin, bool& closed) const {
  // Where "$" is a letter of words, one right after a letter, digit or "$" belongs to that word
  // (or to the quote just closed) and opens nothing.
  if (begin > 0 && dialect_.dollar_in_words &&
      (IsTagChar(text_[begin - 1]) || text_[begin - 1] == '$')) {
    return begin;
  }
  size_t j = begin + 1;
  if (j < text_.size() && (kClasses[static_cast<unsigned char>(text_[j])] & kWordStart) != 0) {
    while (j < text_.size() && IsTagChar(text_[j])) ++j;
  }
  if (j >= text_.size() || text_[j] != '$') return begin;
  const std::string_view tag = text_.substr(begin, j - begin + 1);
  const size_t close = text_.find(tag, j + 1);
  if (close != std::string_view::npos) return close + tag.size();
  closed = false;
  return text_.size();
}

TSqlLexer::TSqlLexer(std::string_view text, const TSqlDialect& dialect, size_t position)
    : text_(text),
      dialect_(dialect),
      classes_(dialect.dollar_in_words ? kDollarWordClasses.data() : kClasses.data()),
      position_(position) {}

size_t TSqlLexer::WordEnd(size_t begin) const {
  size_t j = begin + 1;
  while (j < text_.size() && (ClassOf(text_[j]) & kWordChar) != 0) ++j;
  return j;
}

bool TSqlLexer::Next(TSqlToken& token) {
  const size_t size = text_.size();
  const size_t begin = position_;
  if (begin >= size) return false;
  const char c = text_[begin];
  bool closed = true;
  TSqlTokenKind kind = TSqlTokenKind::kPunct;
  size_t end = begin + 1;

  switch (ClassOf(c) & (kBlankChar | kWordStart | kDigit)) {
    case kBlankChar:
      kind = TSqlTokenKind::kBlank;
      while (end < size && ClassOf(text_[end]) == kBlankChar) ++end;
      break;
    case kDigit:
      kind = TSqlTokenKind::kNumber;
      end = WordEnd(begin);
      break;
    case kWordStart: {
      const char next = end < size ? text_[end] : '\0';
      if (next == '\'' && dialect_.e_strings && (c == 'E' || c == 'e')) {
        kind = TSqlTokenKind::kString;
        end = BackslashStringEnd(begin + 1, closed);
      } else if (next == '\'' && dialect_.q_strings && (c == 'q' || c == 'Q') && begin + 2 < size) {
        kind = TSqlTokenKind::kString;
        end = QStringEnd(begin + 1, closed);
      } else {
        kind = TSqlTokenKind::kWord;
        end = WordEnd(begin);
      }
      break;
    }
    default:
      switch (c) {
        case '\'':
          kind = TSqlTokenKind::kString;
          end = QuotedEnd(begin, '\'', true, closed);
          break;
        case '"':
        case '`':
        case '[': {
          const bool quotes = c == '"'   ? dialect_.double_quote_names
                              : c == '`' ? dialect_.backtick_names
                                         : dialect_.bracket_names;
          if (!quotes) break;
          kind = TSqlTokenKind::kQuotedName;
          end = c == '[' ? QuotedEnd(begin, ']', dialect_.bracket_doubling, closed)
                         : QuotedEnd(begin, c, true, closed);
          break;
        }
        case '-':
          if (end >= size || text_[end] != '-') break;
          kind = TSqlTokenKind::kComment;
          end = text_.find('\n', begin + 2);
          if (end == std::string_view::npos) end = size;
          break;
        case '/':
          if (end >= size || text_[end] != '*') break;
          kind = TSqlTokenKind::kComment;
          end = BlockCommentEnd(begin, closed);
          break;
        case '$':
          if (dialect_.dollar_bodies) {
            if (const size_t body_end = DollarBodyEnd(begin, closed); body_end != begin) {
              kind = TSqlTokenKind::kDollarBody;
              end = body_end;
              break;
            }
          }
          if (dialect_.dollar_starts_words) {
            kind = TSqlTokenKind::kWord;
            end = WordEnd(begin);
          }
          break;
        default:
          break;
      }
  }
  position_ = end;
  token.kind = kind;
  token.closed = closed;
  token.begin = begin;
  token.end = end;
  token.text = std::string_view(text_.data() + begin, end - begin);
  return true;
}

}  // namespace velmora
