#include "client/statement_splitter.h"

namespace velmora::cli {
namespace {

bool IsWordChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

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
  return has_code_ || state_ == State::Quoted || state_ == State::BlockComment ||
         state_ == State::DollarQuoted;
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
  state_ = State::Code;
  has_code_ = false;
  head_words_ = 0;
  last_word_.clear();
}

bool TStatementSplitter::IsTrigger() const {
  if (head_words_ < 2 || head_[0] != "CREATE") return false;
  if (head_[1] == "TRIGGER") return true;
  return head_words_ == 3 && (head_[1] == "TEMP" || head_[1] == "TEMPORARY") &&
         head_[2] == "TRIGGER";
}

size_t TStatementSplitter::FindEnd() {
  // Lines arrive whole with their line end, so a two-character token ("--", "/*", "*/") or a
  // word never straddles two calls.
  const size_t size = text_.size();
  while (scan_ < size) {
    const size_t i = scan_;
    const char c = text_[i];
    const char next = i + 1 < size ? text_[i + 1] : '\0';
    switch (state_) {
      case State::Quoted:
        if (c == close_) state_ = State::Code;
        scan_ = i + 1;
        continue;
      case State::LineComment:
        if (c == '\n') state_ = State::Code;
        scan_ = i + 1;
        continue;
      case State::BlockComment:
        if (c == '*' && next == '/') {
          state_ = State::Code;
          scan_ = i + 2;
        } else {
          scan_ = i + 1;
        }
        continue;
      case State::DollarQuoted:
        if (text_.compare(i, dollar_tag_.size(), dollar_tag_) == 0) {
          state_ = State::Code;
          scan_ = i + dollar_tag_.size();
        } else {
          scan_ = i + 1;
        }
        continue;
      case State::Code:
        break;
    }
    if (c == ';' && (!IsTrigger() || last_word_ == "END")) return i;
    if (IsSpace(c)) {
      scan_ = i + 1;
      continue;
    }
    if (c == '-' && next == '-') {
      state_ = State::LineComment;
      scan_ = i + 2;
      continue;
    }
    if (c == '/' && next == '*') {
      state_ = State::BlockComment;
      scan_ = i + 2;
      continue;
    }
    has_code_ = true;
    if (IsWordChar(c)) {
      size_t end = i;
      while (end < size && IsWordChar(text_[end])) ++end;
      last_word_ = Upper(std::string_view(text_).substr(i, end - i));
      if (head_words_ < 3) head_[head_words_++] = last_word_;
      scan_ = end;
      continue;
    }
    last_word_.clear();
    scan_ = i + 1;
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      state_ = State::Quoted;
      close_ = c == '[' ? ']' : c;
    } else if (c == '$' && (i == 0 || !IsWordChar(text_[i - 1]))) {
      // $$ or $tag$ with a tag that does not start with a digit ($1 is a parameter).
      size_t end = i + 1;
      if (end < size && !(text_[end] >= '0' && text_[end] <= '9'))
        while (end < size && IsWordChar(text_[end])) ++end;
      if (end < size && text_[end] == '$') {
        dollar_tag_.assign(text_, i, end - i + 1);
        state_ = State::DollarQuoted;
        scan_ = end + 1;
      }
    }
  }
  return std::string::npos;
}

}  // namespace velmora::cli
