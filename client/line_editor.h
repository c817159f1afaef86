// TLineEditor: the interactive shell's terminal input through libedit: emacs-style editing (the
// user's ~/.editrc applies), the up and down arrows walk the history, and the history is kept in
// a file between runs (loaded on construction, saved after a line is entered once no more input
// is waiting, so a long paste writes the file once at its end, and on destruction). Pasted text
// is taken literally where the terminal brackets it (xterm's mode 2004): its control bytes are
// text, not editing keys. XON/XOFF flow control is off while the editor exists, so a Ctrl-S does
// not stop the output.
//
// For standard input and output on a terminal; one per process, used by the main thread only.
#pragma once

#include <termios.h>

#include <cstddef>
#include <string>
#include <string_view>

struct editline;
struct history;

namespace velmora::cli {

// Lines kept in the history file.
inline constexpr int kHistoryLines = 1000;
// The longest line the history keeps, in bytes. A longer one (a pasted dump, a statement with a
// large literal) runs but is not kept: every save writes the whole history, and a line of
// megabytes made each later line cost a rewrite of it. Such lines already in the file are
// dropped when it is loaded.
inline constexpr size_t kHistoryLineMaxBytes = 64 * 1024;

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
  // Drops what was typed or pasted but not read yet (after Ctrl-C).
  void DropTypedAhead();
  // Enters a line into the history unless it is longer than kHistoryLineMaxBytes, and saves
  // the file when no more input is waiting (a failure to save is not reported: the shell goes on
  // without).
  void Remember(const std::string& line);

 private:
  static char* Prompt(editline* el);
  static unsigned char Paste(editline* el, int key);
  void DropOverlongLines();
  void SaveWhenIdle();
  void Save();

  std::string history_file_;
  std::string prompt_;
  ::history* history_ = nullptr;
  editline* editor_ = nullptr;
  bool unsaved_ = false;   // lines entered since the file was last written
  bool in_paste_ = false;  // a paste's line end entered a line; the rest of it comes next
  bool restore_terminal_ = false;
  termios terminal_before_{};
};

}  // namespace velmora::cli
