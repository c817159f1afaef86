#include "db/odbc/odbc_text.h"

#include <algorithm>
#include <cctype>

#include "variant/variant_text.h"

namespace velmora {

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

namespace {

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

}  // namespace

std::vector<TOdbcStatementText> SplitOdbcStatements(std::string_view sql) {
  std::vector<TOdbcStatementText> out;
  std::string current;  // the statement so far, its comments left out
  int markers = 0;
  int depth = 0;          // open BEGIN/CASE blocks
  bool trigger = false;   // the statement so far named TRIGGER: its BEGIN opens a body
  bool has_text = false;  // something besides blanks and comments
  const auto finish = [&] {
    if (has_text) out.push_back({std::move(current), markers});
    current.clear();
    markers = 0;
    depth = 0;
    trigger = false;
    has_text = false;
  };
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    // Comments are dropped (a blank in their place): some drivers look for ";" in them.
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      const size_t nl = sql.find('\n', i);
      i = nl == std::string_view::npos ? sql.size() : nl + 1;
      current += ' ';
      continue;
    }
    if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const size_t close = sql.find("*/", i + 2);
      i = close == std::string_view::npos ? sql.size() : close + 2;
      current += ' ';
      continue;
    }
    if (c == '\'' || c == '"' || c == '[' || c == '`') {
      const char close = c == '[' ? ']' : c;
      const size_t begin = i;
      has_text = true;
      ++i;
      while (i < sql.size()) {
        if (sql[i] == close) {
          if (i + 1 < sql.size() && sql[i + 1] == close) {  // doubled: part of the text
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      i = std::min(i + 1, sql.size());
      current.append(sql.substr(begin, i - begin));
      continue;
    }
    if (c == ';' && depth == 0) {
      finish();
      ++i;
      continue;
    }
    if (c == '?') ++markers;
    if (IsWordChar(c)) {
      size_t end = i;
      while (end < sql.size() && IsWordChar(sql[end])) ++end;
      const std::string_view word = sql.substr(i, end - i);
      if (EqualsNoCase(word, "TRIGGER")) trigger = true;
      if (EqualsNoCase(word, "CASE") || (trigger && EqualsNoCase(word, "BEGIN"))) ++depth;
      if (EqualsNoCase(word, "END") && depth > 0) --depth;
      has_text = true;
      current.append(word);
      i = end;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c)) == 0) has_text = true;
    current += c;
    ++i;
  }
  finish();
  return out;
}

}  // namespace velmora
