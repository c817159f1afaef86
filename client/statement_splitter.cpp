#include "client/statement_splitter.h"

#include "client/statement_kind.h"
#include "db/core/sql_lexer.h"

namespace velmora::cli {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string Trimmed(std::string_view s) {
  size_t begin = 0, end = s.size();
  while (begin < end && IsSpace(s[begin])) ++begin;
  while (end > begin && IsSpace(s[end - 1])) --end;
  return std::string(s.substr(begin, end - begin));
}

std::string Upper(std::string_view word) {
  std::string up(word);
  for (char& c : up)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return up;
}

}  // namespace

void TStatementSplitter::AddLine(std::string_view line) {
  text_.append(line);
  text_.push_back('\n');
}

std::optional<std::string> TStatementSplitter::Next() {
  for (;;) {
    const size_t end = FindEnd();
    if (end == std::string::npos) return std::nullopt;
    const bool code = has_code_;
    std::string statement = Trimmed(std::string_view(text_).substr(0, end));
    StartNext(end + 1);
    if (code) return statement;
  }
}

bool TStatementSplitter::InStatement() const {
  return has_code_ || open_;
}

std::string TStatementSplitter::TakeRest() {
  FindEnd();
  std::string rest = has_code_ ? Trimmed(text_) : std::string();
  Clear();
  return rest;
}

void TStatementSplitter::Clear() {
  StartNext(text_.size());
}

void TStatementSplitter::StartNext(size_t end) {
  text_.erase(0, end);
  scan_ = 0;
  open_ = false;
  has_code_ = false;
  parens_ = 0;
  blocks_ = 0;
  head_words_ = 0;
}

bool TStatementSplitter::HasBody() const {
  if (head_words_ < 2 || head_[0] != "CREATE") return false;
  int i = 1;
  if (head_[i] == "OR" && i + 1 < head_words_ && head_[i + 1] == "REPLACE") i += 2;
  if (i < head_words_ && (head_[i] == "TEMP" || head_[i] == "TEMPORARY")) ++i;
  return i < head_words_ &&
         (head_[i] == "TRIGGER" || head_[i] == "FUNCTION" || head_[i] == "PROCEDURE");
}

void TStatementSplitter::Word(std::string_view word) {
  const std::string upper = Upper(word);
  if (head_words_ < 4) head_[head_words_++] = upper;
  if (upper != "BEGIN" && upper != "CASE" && upper != "END") return;
  if (!HasBody()) return;
  if (upper != "END") {
    ++blocks_;
  } else if (blocks_ > 0) {
    --blocks_;
  }
}

size_t TStatementSplitter::FindEnd() {
  // Lines arrive whole with their line end, so the text never ends inside a word or a
  // two-character token ("--", "/*"): only a quote, body or comment can be left open, and it is
  // read again from its start when the next line comes.
  TSqlLexer lexer(text_, kClientSqlDialect, scan_);
  for (TSqlToken token; lexer.Next(token); scan_ = token.end) {
    const bool code = token.kind != TSqlTokenKind::kBlank && token.kind != TSqlTokenKind::kComment;
    if (!token.closed) {
      has_code_ = has_code_ || code;
      open_ = true;
      return std::string::npos;
    }
    const char c = token.text.front();
    if (token.kind == TSqlTokenKind::kPunct) {
      if (c == ';' && parens_ == 0 && blocks_ == 0) return token.begin;
      if (c == '(') ++parens_;
      if (c == ')' && parens_ > 0) --parens_;
    }
    if (token.kind == TSqlTokenKind::kWord || token.kind == TSqlTokenKind::kNumber) {
      Word(token.text);
    }
    has_code_ = has_code_ || code;
  }
  open_ = false;
  return std::string::npos;
}

}  // namespace velmora::cli
