// TLineEditor: the interactive shell's terminal input through libedit: emacs-style editing (the
// user's ~/.editrc applies), the up and down arrows walk the history, and the history is kept in
// a file between runs (loaded on construction, saved after every line entered).
//
// For standard input and output on a terminal; one per process, used by the main thread only.
#pragma once

#include <string>
#include <string_view>

struct editline;
struct history;

namespace velmora::cli {

// Lines kept in the history file.
inline constexpr int kHistoryLines = 1000;

class TLineEditor {
 public:
  // `history_file` empty: a history for this run only. A file that does not exist yet is made
  // readable by its owner only (statements may hold passwords).
  explicit TLineEditor(std::string history_file);
  ~TLineEditor();
  TLineEditor(const TLineEditor&) = delete;
  TLineEditor& operator=(const TLineEditor&) = delete;

  enum class Outcome {
    Line,         // `line` holds what was typed, without the line end
    Interrupted,  // a signal (Ctrl-C) ended the read; the typed text is dropped
    End,          // Ctrl-D on an empty line, or the terminal is gone
  };
  Outcome ReadLine(std::string_view prompt, std::string& line);
  // Enters a line into the history and saves the file (a failure to save is not reported: the
  // shell goes on without).
  void Remember(const std::string& line);

 private:
  static char* Prompt(editline* el);

  std::string history_file_;
  std::string prompt_;
  ::history* history_ = nullptr;
  editline* editor_ = nullptr;
};

}  // namespace velmora::cli
