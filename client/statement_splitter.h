// TStatementSplitter: cuts the lines a person types (or a file holds) into statements that end
// with `;`, reading them with the server's lexer in the client's dialect (kClientSqlDialect,
// client/statement_kind.h), as psql would. A `;` inside quotes ('...', E'...', "...", `...`,
// [...]), PostgreSQL dollar quotes ($$...$$, $tag$...$tag$), comments (`--` to the line end,
// `/* */`, nested) or parentheses (CREATE RULE ... DO (a; b)) does not end a statement, nor does
// one inside the BEGIN ... END body of CREATE [OR REPLACE] [TEMP|TEMPORARY] TRIGGER, FUNCTION or
// PROCEDURE (SQLite's trigger bodies, PostgreSQL's BEGIN ATOMIC; CASE ... END nests inside).
// Statements that hold only blanks and comments are dropped.
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
  // Reads on from scan_; the index of the `;` that ends the statement, or npos.
  size_t FindEnd();
  // The statement begins CREATE [OR REPLACE] [TEMP|TEMPORARY] TRIGGER, FUNCTION or PROCEDURE.
  bool HasBody() const;
  // A code word: the head, and BEGIN/CASE ... END blocks of a statement with a body.
  void Word(std::string_view word);
  void StartNext(size_t end);

  std::string text_;  // the unfinished statement and whatever follows it
  // How far text_ has been read: the start of a token, so that reading resumes there when a line
  // comes (a quote or comment left open is read again whole).
  size_t scan_ = 0;
  bool open_ = false;      // text_ ends inside a quote, body or comment
  bool has_code_ = false;  // the statement has something beyond blanks and comments
  int parens_ = 0;         // open "("
  int blocks_ = 0;         // open BEGIN or CASE in a statement with a body
  int head_words_ = 0;     // code words seen, counted up to four
  std::string head_[4];    // the first four code words, upper case
};

}  // namespace velmora::cli
