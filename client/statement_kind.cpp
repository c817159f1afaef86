#include "client/statement_kind.h"

#include <array>

namespace velmora {
namespace {

bool IsWordChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
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

// The index after the comment that starts at `i`, or `i` when none starts there. An unclosed
// block comment runs to the end.
size_t SkipComment(std::string_view sql, size_t i) {
  if (i + 1 >= sql.size()) return i;
  if (sql[i] == '-' && sql[i + 1] == '-') {
    const size_t eol = sql.find('\n', i + 2);
    return eol == std::string_view::npos ? sql.size() : eol + 1;
  }
  if (sql[i] == '/' && sql[i + 1] == '*') {
    const size_t end = sql.find("*/", i + 2);
    return end == std::string_view::npos ? sql.size() : end + 2;
  }
  return i;
}

// The index after the quoted text that starts at `i` (a quote character). A doubled quote closes
// and reopens, which leaves the scan in the same state as reading it as one character.
size_t SkipQuoted(std::string_view sql, size_t i) {
  const size_t end = sql.find(sql[i], i + 1);
  return end == std::string_view::npos ? sql.size() : end + 1;
}

size_t WordEnd(std::string_view sql, size_t i) {
  while (i < sql.size() && IsWordChar(sql[i])) ++i;
  return i;
}

constexpr std::array<std::string_view, 7> kRowWords = {"SELECT", "WITH",    "VALUES",  "TABLE",
                                                       "SHOW",   "EXPLAIN", "DESCRIBE"};

}  // namespace

StatementKind StatementKindOf(std::string_view sql) {
  size_t i = 0;
  while (i < sql.size()) {
    if (IsSpace(sql[i]) || sql[i] == '(') {
      ++i;
      continue;
    }
    const size_t after = SkipComment(sql, i);
    if (after == i) break;
    i = after;
  }
  const std::string_view first = sql.substr(i, WordEnd(sql, i) - i);
  for (std::string_view word : kRowWords)
    if (IsKeyword(first, word)) return StatementKind::Rows;

  // One pass over the code outside quotes and comments: RETURNING anywhere makes rows; an `=`
  // makes a PRAGMA an assignment, which returns nothing.
  bool has_equals = false;
  for (size_t at = 0; at < sql.size();) {
    const char c = sql[at];
    if (c == '\'' || c == '"') {
      at = SkipQuoted(sql, at);
    } else if (const size_t after = SkipComment(sql, at); after != at) {
      at = after;
    } else if (IsWordChar(c)) {
      const size_t end = WordEnd(sql, at);
      if (IsKeyword(sql.substr(at, end - at), "RETURNING")) return StatementKind::Rows;
      at = end;
    } else {
      has_equals = has_equals || c == '=';
      ++at;
    }
  }
  return IsKeyword(first, "PRAGMA") && !has_equals ? StatementKind::Rows : StatementKind::Command;
}

}  // namespace velmora
