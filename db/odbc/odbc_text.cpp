#include "db/odbc/odbc_text.h"

#include "db/core/sql_lexer.h"
#include "variant/variant_text.h"

namespace velmora {

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::vector<TOdbcStatementText> SplitOdbcStatements(std::string_view sql,
                                                    const TSqlDialect& dialect) {
  std::vector<TOdbcStatementText> out;
  std::string current;  // the statement so far, its comments left out
  int markers = 0;
  int depth = 0;          // open BEGIN/CASE blocks
  int parens = 0;         // open "(": CREATE RULE ... DO (a; b) is one statement
  bool trigger = false;   // the statement so far named TRIGGER: its BEGIN opens a body
  bool has_text = false;  // something besides blanks and comments
  const auto finish = [&] {
    if (has_text) out.push_back({std::move(current), markers});
    current.clear();
    markers = 0;
    depth = 0;
    parens = 0;
    trigger = false;
    has_text = false;
  };
  size_t copied = 0;  // sql before this is in current (or left out)
  const auto copy_up_to = [&](size_t end) {
    current.append(sql.substr(copied, end - copied));
    copied = end;
  };
  TSqlLexer lexer(sql, dialect);
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
        if (token.text.front() == '(') ++parens;
        if (token.text.front() == ')' && parens > 0) --parens;
        if (token.text.front() == ';' && depth == 0 && parens == 0) {
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
