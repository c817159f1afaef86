#include "db/odbc/odbc_text.h"

#include <algorithm>
#include <cctype>

#include "db/core/sql_lexer.h"
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

// The quotes of the engines an ODBC driver may stand for: '..', "..", [..] ("]]" inside is one
// "]") and `..`.
constexpr TSqlDialect kOdbcDialect{
    .bracket_names = true, .bracket_doubling = true, .backtick_names = true};

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
  size_t copied = 0;  // sql before this is in current (or left out)
  const auto copy_up_to = [&](size_t end) {
    current.append(sql.substr(copied, end - copied));
    copied = end;
  };
  TSqlLexer lexer(sql, kOdbcDialect);
  for (TSqlToken token; lexer.Next(token);) {
    switch (token.kind) {
      case TSqlTokenKind::kBlank:
        break;
      case TSqlTokenKind::kComment:
        // Comments are dropped (a blank in their place): some drivers look for ";" in them. A
        // line comment takes its line's end with it.
        copy_up_to(token.begin);
        current += ' ';
        copied = token.end;
        if (token.text.front() == '-' && copied < sql.size()) lexer.Seek(++copied);
        break;
      case TSqlTokenKind::kPunct:
        if (token.text.front() == ';' && depth == 0) {
          copy_up_to(token.begin);
          finish();
          copied = token.end;
          break;
        }
        if (token.text.front() == '?') ++markers;
        has_text = true;
        break;
      case TSqlTokenKind::kWord:
      case TSqlTokenKind::kNumber: {
        const std::string_view word = token.text;
        if (EqualsNoCase(word, "TRIGGER")) trigger = true;
        if (EqualsNoCase(word, "CASE") || (trigger && EqualsNoCase(word, "BEGIN"))) ++depth;
        if (EqualsNoCase(word, "END") && depth > 0) --depth;
        has_text = true;
        break;
      }
      default:
        has_text = true;
        break;
    }
  }
  copy_up_to(sql.size());
  finish();
  return out;
}

}  // namespace velmora
