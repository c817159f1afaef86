#include "db/core/sql_lexer.h"

#include <array>

namespace velmora {
namespace {

enum TCharClass : uint8_t { kOther, kBlankChar, kWordStart, kDigit };

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
      classes[c] = kBlankChar;
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80) {
      classes[c] = kWordStart;
    } else if (c >= '0' && c <= '9') {
      classes[c] = kDigit;
    }
  }
  return classes;
}

constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

uint8_t ClassOf(char c) {
  return kClasses[static_cast<unsigned char>(c)];
}

// A letter, digit, "_" or non-ASCII byte: what follows the first byte of a word or a dollar tag.
bool IsTagChar(char c) {
  const uint8_t cls = ClassOf(c);
  return cls == kWordStart || cls == kDigit;
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
  size_t j = begin + 1;
  if (j < text_.size() && ClassOf(text_[j]) == kWordStart) {
    while (j < text_.size() && IsTagChar(text_[j])) ++j;
  }
  if (j >= text_.size() || text_[j] != '$') return begin;
  const std::string_view tag = text_.substr(begin, j - begin + 1);
  const size_t close = text_.find(tag, j + 1);
  if (close != std::string_view::npos) return close + tag.size();
  closed = false;
  return text_.size();
}

size_t TSqlLexer::WordEnd(size_t begin) const {
  size_t j = begin + 1;
  while (j < text_.size()) {
    const char c = text_[j];
    if (!IsTagChar(c) && !(c == '$' && dialect_.dollar_in_words)) break;
    ++j;
  }
  return j;
}

bool TSqlLexer::Next(TSqlToken& token) {
  const size_t size = text_.size();
  const size_t begin = position_;
  if (begin >= size) return false;
  const char c = text_[begin];
  const char next = begin + 1 < size ? text_[begin + 1] : '\0';
  bool closed = true;
  TSqlTokenKind kind = TSqlTokenKind::kPunct;
  size_t end = begin + 1;

  switch (ClassOf(c)) {
    case kBlankChar:
      kind = TSqlTokenKind::kBlank;
      while (end < size && ClassOf(text_[end]) == kBlankChar) ++end;
      break;
    case kDigit:
      kind = TSqlTokenKind::kNumber;
      end = WordEnd(begin);
      break;
    case kWordStart:
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
    default:
      switch (c) {
        case '\'':
          kind = TSqlTokenKind::kString;
          end = QuotedEnd(begin, '\'', true, closed);
          break;
        case '"':
          if (!dialect_.double_quote_names) break;
          kind = TSqlTokenKind::kQuotedName;
          end = QuotedEnd(begin, '"', true, closed);
          break;
        case '`':
          if (!dialect_.backtick_names) break;
          kind = TSqlTokenKind::kQuotedName;
          end = QuotedEnd(begin, '`', true, closed);
          break;
        case '[':
          if (!dialect_.bracket_names) break;
          kind = TSqlTokenKind::kQuotedName;
          end = QuotedEnd(begin, ']', dialect_.bracket_doubling, closed);
          break;
        case '-':
          if (next != '-') break;
          kind = TSqlTokenKind::kComment;
          end = text_.find('\n', begin + 2);
          if (end == std::string_view::npos) end = size;
          break;
        case '/':
          if (next != '*') break;
          kind = TSqlTokenKind::kComment;
          end = BlockCommentEnd(begin, closed);
          break;
        case '$':
          if (!dialect_.dollar_bodies) break;
          if (const size_t body_end = DollarBodyEnd(begin, closed); body_end != begin) {
            kind = TSqlTokenKind::kDollarBody;
            end = body_end;
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
  token.text = text_.substr(begin, end - begin);
  return true;
}

}  // namespace velmora
