#include "db/pg/pg_command_text.h"

#include <fmt/core.h>

#include "db/core/db_error.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

bool IsIdentStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u >= 0x80;
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '$';
}
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The end of the dollar quote opening at `i` ("$$" or "$tag$"), or `i` when none opens there.
size_t SkipDollarQuote(std::string_view s, size_t i) {
  if (i > 0 && IsIdentChar(s[i - 1])) return i;  // "a$b$" is one identifier
  size_t j = i + 1;
  if (j < s.size() && IsIdentStart(s[j])) {
    while (j < s.size() && IsIdentChar(s[j]) && s[j] != '$') ++j;
  }
  if (j >= s.size() || s[j] != '$') return i;
  const std::string_view tag = s.substr(i, j - i + 1);
  const size_t close = s.find(tag, j + 1);
  return close == std::string_view::npos ? s.size() : close + tag.size();
}

// The end of the literal, quoted identifier or comment starting at `i`, or `i` when none does.
size_t SkipQuoted(std::string_view s, size_t i) {
  const char c = s[i];
  if (c == '\'' || c == '"') {
    // E'..' takes backslash escapes; a plain '..' does (standard_conforming_strings is on).
    const bool escapes = c == '\'' && i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e') &&
                         (i < 2 || !IsIdentChar(s[i - 2]));
    size_t j = i + 1;
    while (j < s.size()) {
      if (escapes && s[j] == '\\') {
        j += 2;
        continue;
      }
      if (s[j] == c) {
        if (j + 1 < s.size() && s[j + 1] == c) {
          j += 2;
          continue;
        }
        return j + 1;
      }
      ++j;
    }
    return s.size();
  }
  if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
    const size_t eol = s.find('\n', i);
    return eol == std::string_view::npos ? s.size() : eol + 1;
  }
  if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
    int depth = 1;
    size_t j = i + 2;
    while (j < s.size() && depth > 0) {
      if (s[j] == '/' && j + 1 < s.size() && s[j + 1] == '*') {
        ++depth;
        j += 2;
      } else if (s[j] == '*' && j + 1 < s.size() && s[j + 1] == '/') {
        --depth;
        j += 2;
      } else {
        ++j;
      }
    }
    return j;
  }
  if (c == '$') return SkipDollarQuote(s, i);
  return i;
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
  size_t i = 0;
  while (i < s.size()) {
    if (IsBlank(s[i])) {
      ++i;
      continue;
    }
    if (s[i] == '-' || s[i] == '/') {
      const size_t j = SkipQuoted(s, i);
      if (j != i) {
        i = j;
        continue;
      }
    }
    break;
  }
  return s.substr(i);
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

  std::vector<TPgStatement> Run() {
    size_t i = 0;
    while (i < s_.size()) {
      const size_t skipped = SkipQuoted(s_, i);
      if (skipped != i) {
        current_.append(s_.substr(i, skipped - i));
        i = skipped;
        continue;
      }
      const char c = s_[i];
      if (c == ';' && depth_ == 0) {
        Finish();
        ++i;
        continue;
      }
      if (c == '?' && expected_ > 0 && !IsQuestionOperator(s_, i)) {
        ++markers_;
        current_ += fmt::format("${}", markers_ - statement_first_);
        ++i;
        continue;
      }
      if (IsIdentStart(c) && (i == 0 || !IsIdentChar(s_[i - 1]))) {
        size_t j = i;
        while (j < s_.size() && IsIdentChar(s_[j])) ++j;
        Word(s_.substr(i, j - i));
        current_.append(s_.substr(i, j - i));
        i = j;
        continue;
      }
      current_ += c;
      ++i;
    }
    Finish();
    if (markers_ != expected_) {
      throw EFDException(fmt::format(
          "Command text holds {} parameter markers for PostgreSQL but {} parameters are given",
          markers_, expected_));
    }
    return std::move(out_);
  }

 private:
  // BEGIN ... END nesting counts only in the body of CREATE FUNCTION / PROCEDURE.
  void Word(std::string_view word) {
    const bool opens = EqualsNoCase(word, "BEGIN") || EqualsNoCase(word, "CASE");
    if (!opens && !EqualsNoCase(word, "END")) return;
    if (!checked_routine_) {
      checked_routine_ = true;
      routine_ = IsCreateRoutine(Head(current_));
    }
    if (!routine_) return;
    if (opens) {
      ++depth_;
    } else if (depth_ > 0) {
      --depth_;
    }
  }

  void Finish() {
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
    routine_ = false;
    checked_routine_ = false;
  }

  std::string_view s_;
  size_t expected_;
  std::vector<TPgStatement> out_;
  std::string current_;
  size_t markers_ = 0;
  size_t statement_first_ = 0;
  int depth_ = 0;
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

std::vector<TTextRange> PgDollarQuotedBodies(std::string_view text) {
  std::vector<TTextRange> bodies;
  if (text.find('$') == std::string_view::npos) return bodies;
  for (size_t i = 0; i < text.size();) {
    const size_t end = SkipQuoted(text, i);
    if (end == i) {
      ++i;
      continue;
    }
    if (text[i] == '$') bodies.push_back({i, end});
    i = end;
  }
  return bodies;
}

}  // namespace velmora
