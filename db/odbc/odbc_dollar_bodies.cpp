#include "db/odbc/odbc_dollar_bodies.h"

#include <cctype>
#include <string>

namespace velmora {
namespace {

bool IsWordByte(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// The length of a dollar tag starting at `at` ("$", "$tag$"), or 0 when none starts there.
size_t TagLength(std::string_view text, size_t at) {
  size_t i = at + 1;
  if (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) return 0;
  while (i < text.size() && text[i] != '$') {
    if (!IsWordByte(text[i])) return 0;
    ++i;
  }
  return i < text.size() ? i - at + 1 : 0;
}

// The end of a quoted run opened at `at` by `quote`, doubled quotes inside; with `backslashes`
// a backslash escapes the next byte.
size_t QuotedEnd(std::string_view text, size_t at, char quote, bool backslashes) {
  size_t i = at + 1;
  while (i < text.size()) {
    if (backslashes && text[i] == '\\') {
      i += 2;
      continue;
    }
    if (text[i] == quote) {
      if (i + 1 < text.size() && text[i + 1] == quote) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return text.size();
}

// The end of a /* */ comment opened at `at`; PostgreSQL nests them.
size_t BlockCommentEnd(std::string_view text, size_t at) {
  int depth = 0;
  size_t i = at;
  while (i + 1 < text.size()) {
    if (text[i] == '/' && text[i + 1] == '*') {
      ++depth;
      i += 2;
    } else if (text[i] == '*' && text[i + 1] == '/') {
      i += 2;
      if (--depth == 0) return i;
    } else {
      ++i;
    }
  }
  return text.size();
}

// Stands in for a body while the text is split: a string literal, which the split keeps as
// written and looks into for nothing.
constexpr std::string_view kBodyStandIn = "'\x01$\x01'";

}  // namespace

std::vector<TTextRange> OdbcDollarQuotedBodies(std::string_view text) {
  std::vector<TTextRange> bodies;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      const size_t nl = text.find('\n', i);
      i = nl == std::string_view::npos ? text.size() : nl + 1;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      i = BlockCommentEnd(text, i);
    } else if (c == '\'') {
      const bool escaped = i > 0 && (text[i - 1] == 'E' || text[i - 1] == 'e') &&
                           (i < 2 || !IsWordByte(text[i - 2]));
      i = QuotedEnd(text, i, '\'', escaped);
    } else if (c == '"') {
      i = QuotedEnd(text, i, '"', false);
    } else if (IsWordByte(c)) {
      while (i < text.size() && (IsWordByte(text[i]) || text[i] == '$')) ++i;
    } else if (const size_t tag = c == '$' ? TagLength(text, i) : 0; tag > 0) {
      const size_t close = text.find(text.substr(i, tag), i + tag);
      const size_t end = close == std::string_view::npos ? text.size() : close + tag;
      bodies.push_back({i, end});
      i = end;
    } else {
      ++i;
    }
  }
  return bodies;
}

std::vector<TOdbcStatementText> SplitOdbcStatementsWithDollarBodies(std::string_view sql) {
  const std::vector<TTextRange> bodies = OdbcDollarQuotedBodies(sql);
  // A text that holds the stand-in itself (never in practice) is split as it is.
  if (bodies.empty() || sql.find(kBodyStandIn) != std::string_view::npos)
    return SplitOdbcStatements(sql);
  std::string masked;
  masked.reserve(sql.size());
  size_t from = 0;
  for (const TTextRange& body : bodies) {
    masked.append(sql.substr(from, body.begin - from));
    masked.append(kBodyStandIn);
    from = body.end;
  }
  masked.append(sql.substr(from));
  // The stand-ins come back in order: the split keeps the statements and their literals in the
  // order of the text.
  std::vector<TOdbcStatementText> statements = SplitOdbcStatements(masked);
  size_t next = 0;
  for (TOdbcStatementText& statement : statements) {
    for (size_t at = statement.sql.find(kBodyStandIn);
         at != std::string::npos && next < bodies.size();
         at = statement.sql.find(kBodyStandIn, at)) {
      const TTextRange& body = bodies[next++];
      const std::string_view original = sql.substr(body.begin, body.end - body.begin);
      statement.sql.replace(at, kBodyStandIn.size(), original);
      at += original.size();
    }
  }
  return statements;
}

}  // namespace velmora
