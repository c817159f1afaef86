#include "db/firebird/fb_statement_split.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace velmora {
namespace {

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// True when the statement's first words start a module with a PSQL body.
bool IsModuleHead(const std::array<std::string, 4>& head) {
  size_t i = 0;
  if (head[0] == "EXECUTE") return head[1] == "BLOCK";
  if (head[0] == "CREATE" && head[1] == "OR" && head[2] == "ALTER") {
    i = 3;
  } else if (head[0] == "CREATE" || head[0] == "ALTER" || head[0] == "RECREATE") {
    i = 1;
  } else {
    return false;
  }
  const std::string& kind = head[i];
  return kind == "PROCEDURE" || kind == "TRIGGER" || kind == "FUNCTION" || kind == "PACKAGE";
}

// The new terminator when `statement` is isql's "SET TERM <t>", else empty.
std::string SetTermTerminator(std::string_view statement) {
  size_t i = 0;
  const auto skip_blanks = [&] {
    while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i])) != 0) ++i;
  };
  const auto word = [&]() -> std::string {
    skip_blanks();
    const size_t start = i;
    while (i < statement.size() && IsWordChar(statement[i])) ++i;
    return Upper(statement.substr(start, i - start));
  };
  if (word() != "SET" || word() != "TERM") return {};
  skip_blanks();
  size_t end = statement.size();
  while (end > i && std::isspace(static_cast<unsigned char>(statement[end - 1])) != 0) --end;
  return std::string(statement.substr(i, end - i));
}

bool IsBlank(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c)) != 0) {
      ++i;
    } else if (text.substr(i, 2) == "--") {
      const size_t eol = text.find('\n', i);
      i = eol == std::string_view::npos ? text.size() : eol + 1;
    } else if (text.substr(i, 2) == "/*") {
      const size_t close = text.find("*/", i + 2);
      i = close == std::string_view::npos ? text.size() : close + 2;
    } else {
      return false;
    }
  }
  return true;
}

char QClose(char open) {
  switch (open) {
    case '(':
      return ')';
    case '{':
      return '}';
    case '[':
      return ']';
    case '<':
      return '>';
    default:
      return open;
  }
}

}  // namespace

namespace {

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
  std::array<std::string, 4> head;
  size_t head_words = 0;
  bool body = false;  // a module's AS has been read
  size_t body_begin = 0;
  int depth = 0;  // open BEGIN / CASE blocks
  std::string last_word;

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
    last_word.clear();
  };

  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
      // '' and "" inside are the quote itself: the scan simply re-enters the literal.
      const size_t close = text.find(c, i + 1);
      i = close == std::string_view::npos ? text.size() : close + 1;
      last_word.clear();
      continue;
    }
    if ((c == 'q' || c == 'Q') && i + 2 < text.size() && text[i + 1] == '\'' &&
        (i == 0 || !IsWordChar(text[i - 1]))) {
      const char close_char = QClose(text[i + 2]);
      size_t j = i + 3;
      while (j + 1 < text.size() && !(text[j] == close_char && text[j + 1] == '\'')) ++j;
      i = j + 1 < text.size() ? j + 2 : text.size();
      last_word.clear();
      continue;
    }
    if (text.substr(i, 2) == "--") {
      const size_t eol = text.find('\n', i);
      i = eol == std::string_view::npos ? text.size() : eol + 1;
      continue;
    }
    if (text.substr(i, 2) == "/*") {
      const size_t close = text.find("*/", i + 2);
      i = close == std::string_view::npos ? text.size() : close + 2;
      continue;
    }
    if (text.substr(i, terminator.size()) == terminator) {
      const bool ends = terminator != ";" || !body || (depth == 0 && last_word == "END");
      if (ends) {
        finish(i, i + terminator.size());
        i = start;
        continue;
      }
    }
    if (IsWordChar(c)) {
      size_t j = i;
      while (j < text.size() && IsWordChar(text[j])) ++j;
      std::string word = Upper(text.substr(i, j - i));
      if (head_words < head.size()) head[head_words++] = word;
      if (word == "AS" && !body && depth == 0 && IsModuleHead(head)) {
        body = true;
        body_begin = j;
      } else if (word == "BEGIN" || word == "CASE") {
        ++depth;
      } else if (word == "END" && depth > 0) {
        --depth;
      }
      last_word = std::move(word);
      i = j;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c)) == 0) last_word.clear();
    ++i;
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
