#include "db/core/command_text.h"

#include <algorithm>
#include <cctype>

#include "db/core/sql_lexer.h"
#include "variant/name_fold.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

bool IsNameChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '$' || c == '#' || u >= 0x80;
}

// Index of the "}" closing the "{" at i, or npos.
size_t MatchingBrace(std::string_view s, size_t i, const TSqlDialect& dialect) {
  int depth = 0;
  TSqlLexer lexer(s, dialect, i);
  for (TSqlToken token; lexer.Next(token);) {
    if (token.kind != TSqlTokenKind::kPunct) continue;
    if (s[token.begin] == '{') ++depth;
    if (s[token.begin] == '}' && --depth == 0) return token.begin;
  }
  return std::string_view::npos;
}

// Splits at commas outside parentheses, literals and comments.
std::vector<std::string_view> SplitArgs(std::string_view s, const TSqlDialect& dialect) {
  std::vector<std::string_view> out;
  if (TrimBlanks(s).empty()) return out;
  int depth = 0;
  size_t start = 0;
  TSqlLexer lexer(s, dialect);
  for (TSqlToken token; lexer.Next(token);) {
    if (token.kind != TSqlTokenKind::kPunct) continue;
    const char c = s[token.begin];
    if (c == '(' || c == '{') ++depth;
    if (c == ')' || c == '}') --depth;
    if (c == ',' && depth == 0) {
      out.push_back(TrimBlanks(s.substr(start, token.begin - start)));
      start = token.begin + 1;
    }
  }
  out.push_back(TrimBlanks(s.substr(start)));
  return out;
}

class Scanner {
 public:
  Scanner(TCommandText& out, const TEscapeTranslator& escapes, const TSqlDialect& dialect)
      : out_(out), escapes_(escapes), dialect_(dialect) {}

  // The whole text, and the bodies of stored-code definitions in it, which go to the engine as
  // written: ":NAME" in a procedure or trigger body is the engine's own variable, not a marker.
  void SetVerbatim(std::string_view whole, std::span<const TTextRange> ranges) {
    whole_ = whole;
    verbatim_ = ranges;
  }

  // Copies `s` to the result a run at a time: only a marker, "::" or an escape sequence breaks
  // the run, so plain text costs one append per stretch between them.
  std::string Scan(std::string_view s) {
    std::string sql;
    sql.reserve(s.size());
    size_t copied = 0;  // s before this is in sql
    const auto replace = [&](size_t begin, size_t end, std::string_view with) {
      sql.append(s.substr(copied, begin - copied));
      sql.append(with);
      copied = end;
    };
    size_t next_verbatim = 0;
    const bool whole = s.data() == whole_.data() && s.size() == whole_.size();
    int subscripts = 0;  // open "[" where the dialect has no [..] names
    TSqlLexer lexer(s, dialect_);
    for (TSqlToken token; lexer.Next(token);) {
      const size_t i = token.begin;
      if (whole && next_verbatim < verbatim_.size() && verbatim_[next_verbatim].begin <= i) {
        lexer.Seek(std::max(i, verbatim_[next_verbatim++].end));
        continue;
      }
      if (token.kind != TSqlTokenKind::kPunct) continue;
      const char c = s[i];
      // A subscript or slice ("a[1:2]", "a[i:j]") is the engine's, as it always was read.
      if (c == '[') ++subscripts;
      if (c == ']' && subscripts > 0) --subscripts;
      if (subscripts > 0) continue;
      if (c == ':') {
        if (i + 1 < s.size() && s[i + 1] == ':') {
          replace(i, i + 2, ":");
          lexer.Seek(i + 2);
          continue;
        }
        size_t j = i + 1;
        while (j < s.size() && IsNameChar(s[j])) ++j;
        if (j > i + 1) {
          AddMarker(s.substr(i + 1, j - i - 1));
          replace(i, j, "?");
          lexer.Seek(j);
        }
      } else if (c == '{') {
        const size_t close = MatchingBrace(s, i, dialect_);
        if (close != std::string_view::npos) {
          std::string expanded;
          if (Escape(s.substr(i + 1, close - i - 1), expanded)) {
            replace(i, close + 1, expanded);
            lexer.Seek(close + 1);
          }
        }
      }
    }
    sql.append(s.substr(copied));
    return sql;
  }

 private:
  void AddMarker(std::string_view name) {
    int index = -1;
    for (size_t k = 0; k < out_.names.size(); ++k) {
      if (NamesEqual(out_.names[k], name)) {
        index = static_cast<int>(k);
        break;
      }
    }
    if (index < 0) {
      index = static_cast<int>(out_.names.size());
      out_.names.emplace_back(name);
    }
    out_.markers.push_back(index);
  }

  // Expands the body of one {...}; false when it is no escape sequence we know.
  bool Escape(std::string_view body, std::string& expanded) {
    body = TrimBlanks(body);
    size_t k = 0;
    while (k < body.size() && std::isalpha(static_cast<unsigned char>(body[k]))) ++k;
    const std::string_view keyword = body.substr(0, k);
    const std::string_view rest = TrimBlanks(body.substr(k));
    TSqlEscape e;
    if (EqualsNoCase(keyword, "d")) {
      e.kind = TSqlEscape::kDate;
    } else if (EqualsNoCase(keyword, "t")) {
      e.kind = TSqlEscape::kTime;
    } else if (EqualsNoCase(keyword, "ts")) {
      e.kind = TSqlEscape::kTimeStamp;
    } else if (EqualsNoCase(keyword, "oj")) {
      e.kind = TSqlEscape::kOuterJoin;
    } else if (EqualsNoCase(keyword, "escape")) {
      e.kind = TSqlEscape::kLikeEscape;
    } else if (EqualsNoCase(keyword, "fn")) {
      e.kind = TSqlEscape::kFunction;
      const size_t open = rest.find('(');
      if (open == std::string_view::npos || rest.back() != ')') return false;
      e.name = std::string(TrimBlanks(rest.substr(0, open)));
      for (std::string_view arg :
           SplitArgs(rest.substr(open + 1, rest.size() - open - 2), dialect_)) {
        e.args.push_back(Scan(arg));
      }
      expanded = escapes_(e);
      return true;
    } else {
      return false;
    }
    if (rest.empty()) return false;
    e.args.push_back(Scan(rest));
    expanded = escapes_(e);
    return true;
  }

  TCommandText& out_;
  const TEscapeTranslator& escapes_;
  const TSqlDialect& dialect_;
  std::string_view whole_;
  std::span<const TTextRange> verbatim_;
};

}  // namespace

TCommandText PreprocessCommandText(std::string_view text, const TEscapeTranslator& escapes,
                                   const TSqlDialect& dialect,
                                   std::span<const TTextRange> verbatim) {
  TCommandText out;
  Scanner scanner(out, escapes, dialect);
  scanner.SetVerbatim(text, verbatim);
  out.sql = scanner.Scan(text);
  return out;
}

std::string QuotedSql(std::string_view text, char quote) {
  std::string out;
  out.reserve(text.size() + 2);
  out += quote;
  for (char c : text) {
    out += c;
    if (c == quote) out += quote;
  }
  out += quote;
  return out;
}

std::string RenderEscapePlain(const TSqlEscape& escape) {
  switch (escape.kind) {
    case TSqlEscape::kFunction: {
      std::string out = escape.name + "(";
      for (size_t i = 0; i < escape.args.size(); ++i) {
        if (i > 0) out += ", ";
        out += escape.args[i];
      }
      return out + ")";
    }
    case TSqlEscape::kLikeEscape:
      return "ESCAPE " + escape.args.at(0);
    default:
      return escape.args.at(0);
  }
}

}  // namespace velmora
