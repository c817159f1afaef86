#include "db/odbc/odbc_text.h"

#include <algorithm>
#include <cctype>

#include "variant/variant_text.h"

namespace velmora {

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 0x6 && i + 1 < s.size()) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((c >> 4) == 0xE && i + 2 < s.size()) {
      cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
      len = 3;
    } else if ((c >> 3) == 0x1E && i + 3 < s.size()) {
      cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
           ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
      len = 4;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

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
