#include "db/firebird/fb_statement_split.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "db/core/sql_dialects.h"
#include "db/core/sql_lexer.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// True when the statement's first words start a module with a PSQL body.
bool IsModuleHead(const std::array<std::string_view, 4>& head) {
  const auto is = [](std::string_view word, std::string_view upper) {
    return EqualsNoCase(word, upper);
  };
  size_t i = 0;
  if (is(head[0], "EXECUTE")) return is(head[1], "BLOCK");
  if (is(head[0], "CREATE") && is(head[1], "OR") && is(head[2], "ALTER")) {
    i = 3;
  } else if (is(head[0], "CREATE") || is(head[0], "ALTER") || is(head[0], "RECREATE")) {
    i = 1;
  } else {
    return false;
  }
  const std::string_view kind = head[i];
  return is(kind, "PROCEDURE") || is(kind, "TRIGGER") || is(kind, "FUNCTION") ||
         is(kind, "PACKAGE");
}

// The new terminator when `statement` is isql's "SET TERM <t>", else empty.
std::string SetTermTerminator(std::string_view statement) {
  size_t i = 0;
  const auto skip_blanks = [&] {
    while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i])) != 0) ++i;
  };
  const auto word = [&] {
    skip_blanks();
    const size_t start = i;
    while (i < statement.size() && IsWordChar(statement[i])) ++i;
    return statement.substr(start, i - start);
  };
  if (!EqualsNoCase(word(), "SET") || !EqualsNoCase(word(), "TERM")) return {};
  skip_blanks();
  size_t end = statement.size();
  while (end > i && std::isspace(static_cast<unsigned char>(statement[end - 1])) != 0) --end;
  return std::string(statement.substr(i, end - i));
}

// Only blanks and comments.
bool IsBlank(std::string_view text) {
  TSqlLexer lexer(text, kFirebirdSqlDialect);
  for (TSqlToken token; lexer.Next(token);) {
    if (token.kind != TSqlTokenKind::kBlank && token.kind != TSqlTokenKind::kComment) return false;
  }
  return true;
}

struct TSplit {
  std::vector<std::string> statements;
  std::vector<TTextRange> bodies;
};

TSplit Split(std::string_view text) {
  TSplit split;
  std::vector<std::string>& out = split.statements;
  std::string terminator = ";";
  size_t start = 0;
  // State of the statement being read.
  std::array<std::string_view, 4> head;
  size_t head_words = 0;
  bool body = false;  // a module's AS has been read
  size_t body_begin = 0;
  int depth = 0;               // open BEGIN / CASE blocks
  std::string_view last_word;  // the word just read, empty when something else followed it

  const auto finish = [&](size_t end, size_t next) {
    const std::string_view statement = text.substr(start, end - start);
    if (body) split.bodies.push_back({body_begin, end});
    const std::string new_terminator = SetTermTerminator(statement);
    if (!new_terminator.empty()) {
      terminator = new_terminator;
    } else if (!IsBlank(statement)) {
      size_t first = 0, last = statement.size();
      while (std::isspace(static_cast<unsigned char>(statement[first])) != 0) ++first;
      while (std::isspace(static_cast<unsigned char>(statement[last - 1])) != 0) --last;
      out.emplace_back(statement.substr(first, last - first));
    }
    start = next;
    head = {};
    head_words = 0;
    body = false;
    depth = 0;
    last_word = {};
  };

  TSqlLexer lexer(text, kFirebirdSqlDialect);
  for (TSqlToken token; lexer.Next(token);) {
    if (token.kind == TSqlTokenKind::kBlank || token.kind == TSqlTokenKind::kComment) continue;
    if (token.kind == TSqlTokenKind::kString || token.kind == TSqlTokenKind::kQuotedName) {
      last_word = {};
      continue;
    }
    if (text.compare(token.begin, terminator.size(), terminator) == 0) {
      const bool ends =
          terminator != ";" || !body || (depth == 0 && EqualsNoCase(last_word, "END"));
      if (ends) {
        finish(token.begin, token.begin + terminator.size());
        lexer.Seek(start);
        continue;
      }
    }
    if (token.kind == TSqlTokenKind::kWord || token.kind == TSqlTokenKind::kNumber) {
      const std::string_view word = token.text;
      if (head_words < head.size()) head[head_words++] = word;
      if (EqualsNoCase(word, "AS") && !body && depth == 0 && IsModuleHead(head)) {
        body = true;
        body_begin = token.end;
      } else if (EqualsNoCase(word, "BEGIN") || EqualsNoCase(word, "CASE")) {
        ++depth;
      } else if (EqualsNoCase(word, "END") && depth > 0) {
        --depth;
      }
      last_word = word;
      continue;
    }
    last_word = {};
  }
  finish(text.size(), text.size());
  return split;
}

}  // namespace

std::vector<std::string> SplitFirebirdStatements(std::string_view text) {
  return Split(text).statements;
}

std::vector<TTextRange> FirebirdPsqlBodies(std::string_view text) {
  // Most command texts name no stored code at all and are answered without the full scan.
  const auto mentions = [text](std::string_view word) {
    const auto it = std::search(
        text.begin(), text.end(), word.begin(), word.end(),
        [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
    return it != text.end();
  };
  if (!mentions("PROCEDURE") && !mentions("TRIGGER") && !mentions("FUNCTION") &&
      !mentions("PACKAGE") && !mentions("BLOCK"))
    return {};
  return Split(text).bodies;
}

}  // namespace velmora
