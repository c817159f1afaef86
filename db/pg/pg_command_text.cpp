#include "db/pg/pg_command_text.h"

#include <fmt/format.h>

#include <iterator>

#include "db/core/db_error.h"
#include "db/core/sql_lexer.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

bool IsIdentChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
         u == '$' || u >= 0x80;
}
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// A "?" that is one of PostgreSQL's operators rather than a marker.
bool IsQuestionOperator(std::string_view s, size_t i) {
  const char before = i > 0 ? s[i - 1] : '\0';
  const char after = i + 1 < s.size() ? s[i + 1] : '\0';
  const char after2 = i + 2 < s.size() ? s[i + 2] : '\0';
  if (before == '@' || before == '.') return true;
  if (after == '&' || after == '#') return true;
  return after == '|' && after2 != '|';
}

bool StartsWithWord(std::string_view text, std::string_view word) {
  if (text.size() < word.size() || !EqualsNoCase(text.substr(0, word.size()), word)) return false;
  return text.size() == word.size() || !IsIdentChar(text[word.size()]);
}

// The text after the leading blanks and comments.
std::string_view Head(std::string_view s) {
  TSqlLexer lexer(s, kPgDialect);
  for (TSqlToken token; lexer.Next(token);) {
    if (token.kind != TSqlTokenKind::kBlank && token.kind != TSqlTokenKind::kComment) {
      return s.substr(token.begin);
    }
  }
  return {};
}

// The words after CREATE [OR REPLACE] name a routine whose body may hold BEGIN ... END.
bool IsCreateRoutine(std::string_view head) {
  if (!StartsWithWord(head, "CREATE")) return false;
  std::string_view rest = head.substr(6);
  const auto skip_blanks = [&rest] {
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  };
  skip_blanks();
  if (StartsWithWord(rest, "OR")) {
    rest.remove_prefix(2);
    skip_blanks();
    if (!StartsWithWord(rest, "REPLACE")) return false;
    rest.remove_prefix(7);
    skip_blanks();
  }
  return StartsWithWord(rest, "FUNCTION") || StartsWithWord(rest, "PROCEDURE");
}

bool ReturnsRows(std::string_view head) {
  if (!head.empty() && head.front() == '(') return true;
  for (std::string_view word : {"SELECT", "VALUES", "TABLE", "SHOW", "EXPLAIN", "FETCH"}) {
    if (StartsWithWord(head, word)) return true;
  }
  return false;
}

class Splitter {
 public:
  Splitter(std::string_view text, size_t marker_count) : s_(text), expected_(marker_count) {}

  // The statement's text goes to current_ a run at a time: only a marker breaks the run.
  std::vector<TPgStatement> Run() {
    TSqlLexer lexer(s_, kPgDialect);
    for (TSqlToken token; lexer.Next(token);) {
      if (token.kind == TSqlTokenKind::kWord) {
        Word(token.text, token.begin);
      } else if (token.kind == TSqlTokenKind::kPunct) {
        const char c = s_[token.begin];
        if (c == '(') ++parens_;
        if (c == ')' && parens_ > 0) --parens_;
        if (c == ';' && depth_ == 0 && parens_ == 0) {
          Finish(token.begin);
          copied_ = token.end;
        } else if (c == '?' && expected_ > 0 && !IsQuestionOperator(s_, token.begin)) {
          ++markers_;
          CopyUpTo(token.begin);
          fmt::format_to(std::back_inserter(current_), "${}", markers_ - statement_first_);
          copied_ = token.end;
        }
      }
    }
    Finish(s_.size());
    if (markers_ != expected_) {
      throw EFDException(fmt::format(
          "Command text holds {} parameter markers for PostgreSQL but {} parameters are given",
          markers_, expected_));
    }
    return std::move(out_);
  }

 private:
  void CopyUpTo(size_t end) {
    current_.append(s_.substr(copied_, end - copied_));
    copied_ = end;
  }

  // BEGIN ... END nesting counts only in the body of CREATE FUNCTION / PROCEDURE.
  void Word(std::string_view word, size_t begin) {
    const bool opens = EqualsNoCase(word, "BEGIN") || EqualsNoCase(word, "CASE");
    if (!opens && !EqualsNoCase(word, "END")) return;
    if (!checked_routine_) {
      checked_routine_ = true;
      CopyUpTo(begin);
      routine_ = IsCreateRoutine(Head(current_));
    }
    if (!routine_) return;
    if (opens) {
      ++depth_;
    } else if (depth_ > 0) {
      --depth_;
    }
  }

  // Ends the statement at `end` (its ";" or the end of the text).
  void Finish(size_t end) {
    CopyUpTo(end);
    const std::string_view head = Head(current_);
    if (!head.empty()) {
      TPgStatement statement;
      statement.first_marker = statement_first_;
      statement.marker_count = markers_ - statement_first_;
      statement.returns_rows = ReturnsRows(head);
      statement.sql = std::move(current_);
      out_.push_back(std::move(statement));
    }
    current_.clear();
    statement_first_ = markers_;
    depth_ = 0;
    parens_ = 0;
    routine_ = false;
    checked_routine_ = false;
  }

  std::string_view s_;
  size_t expected_;
  std::vector<TPgStatement> out_;
  std::string current_;
  size_t copied_ = 0;  // s_ before this is in current_ or in a statement made
  size_t markers_ = 0;
  size_t statement_first_ = 0;
  int depth_ = 0;
  int parens_ = 0;  // open "(": a ";" inside ends no statement (CREATE RULE ... DO (a; b))
  bool routine_ = false;
  bool checked_routine_ = false;
};

}  // namespace

std::vector<TPgStatement> SplitPgCommandText(std::string_view text, size_t marker_count) {
  // Without parameters and without any ";" the text is one statement as written (or none when it
  // holds only blanks and comments): only its head needs reading, as the splitter would read it.
  if (marker_count == 0 && text.find(';') == std::string_view::npos) {
    std::vector<TPgStatement> one;
    if (const std::string_view head = Head(text); !head.empty()) {
      one.push_back(TPgStatement{std::string(text), 0, 0, ReturnsRows(head)});
    }
    return one;
  }
  return Splitter(text, marker_count).Run();
}

}  // namespace velmora
