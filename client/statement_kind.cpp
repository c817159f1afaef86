#include "client/statement_kind.h"

#include <array>

namespace velmora {
namespace {

bool IsWordChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// `word` equals `upper` (an upper-case ASCII keyword), ignoring case.
bool IsKeyword(std::string_view word, std::string_view upper) {
  if (word.size() != upper.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != upper[i]) return false;
  }
  return true;
}

// The row rule's words are ASCII: the run of letters, digits and `_` at the start of `text`.
std::string_view LeadingWord(std::string_view text) {
  size_t end = 0;
  while (end < text.size() && IsWordChar(text[end])) ++end;
  return text.substr(0, end);
}

// Whether RETURNING is one of the ASCII words of a word token (which may also hold `$` and
// non-ASCII letters: "RETURNING$x" holds it, "x_returning" does not).
bool HoldsReturning(std::string_view token) {
  for (size_t at = 0; at < token.size();) {
    if (!IsWordChar(token[at])) {
      ++at;
      continue;
    }
    const std::string_view word = LeadingWord(token.substr(at));
    if (IsKeyword(word, "RETURNING")) return true;
    at += word.size();
  }
  return false;
}

constexpr std::array<std::string_view, 7> kRowWords = {"SELECT", "WITH",    "VALUES",  "TABLE",
                                                       "SHOW",   "EXPLAIN", "DESCRIBE"};

}  // namespace

StatementKind StatementKindOf(std::string_view sql) {
  // One pass over the tokens: the first word after blanks, comments and "(", RETURNING anywhere
  // outside quotes, bodies and comments, and an `=` there, which makes a PRAGMA an assignment.
  std::string_view first;
  bool head = true;
  bool returning = false;
  bool has_equals = false;
  TSqlLexer lexer(sql, kClientSqlDialect);
  for (TSqlToken token; lexer.Next(token);) {
    switch (token.kind) {
      case TSqlTokenKind::kBlank:
      case TSqlTokenKind::kComment:
        continue;
      case TSqlTokenKind::kWord:
      case TSqlTokenKind::kNumber:
        returning = returning || HoldsReturning(token.text);
        break;
      case TSqlTokenKind::kPunct:
        if (head && token.text == "(") continue;
        has_equals = has_equals || token.text == "=";
        break;
      default:
        break;
    }
    if (head) first = LeadingWord(token.text);
    head = false;
  }
  for (std::string_view word : kRowWords)
    if (IsKeyword(first, word)) return StatementKind::Rows;
  if (returning) return StatementKind::Rows;
  return IsKeyword(first, "PRAGMA") && !has_equals ? StatementKind::Rows : StatementKind::Command;
}

}  // namespace velmora
