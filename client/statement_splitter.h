// TStatementSplitter: cuts the lines a person types (or a file holds) into statements that end
// with `;`. A `;` inside quotes ('...', "...", `...`, [...]), PostgreSQL dollar quotes ($$...$$,
// $tag$...$tag$) or comments (`--` to the line end, `/* */`) does not end a statement, and inside
// CREATE [TEMP|TEMPORARY] TRIGGER only the `;` after END does (the body's statements end with `;`
// too). Statements that hold only blanks and comments are dropped.
//
// One splitter per input; not for sharing between threads.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::cli {

class TStatementSplitter {
 public:
  // Appends one line, without its line end.
  void AddLine(std::string_view line);
  // The next complete statement, without its `;` and the blanks around it; nothing while the text
  // so far ends inside one.
  std::optional<std::string> Next();
  // The text so far holds the start of a statement (code, or an open quote or comment), so more
  // lines are wanted: the continuation prompt.
  bool InStatement() const;
  // The unfinished statement, taken out (empty when it holds no code): at the end of the input it
  // runs as it is.
  std::string TakeRest();
  void Clear();

 private:
  enum class State { Code, Quoted, LineComment, BlockComment, DollarQuoted };

  // Scans on from scan_; the index of the `;` that ends the statement, or npos.
  size_t FindEnd();
  // The statement begins CREATE [TEMP|TEMPORARY] TRIGGER.
  bool IsTrigger() const;
  void StartNext(size_t end);

  std::string text_;  // the unfinished statement and whatever follows it
  size_t scan_ = 0;   // how far text_ has been scanned
  State state_ = State::Code;
  char close_ = 0;          // the closing character of the open quote
  std::string dollar_tag_;  // the open dollar quote's tag, dollars included
  bool has_code_ = false;   // the statement has something beyond blanks and comments
  int head_words_ = 0;      // code words seen, counted up to three
  std::string head_[3];     // the first three code words, upper case
  std::string last_word_;   // the last code word, upper case
};

}  // namespace velmora::cli
