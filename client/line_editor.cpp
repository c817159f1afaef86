#include "client/line_editor.h"

#include <fcntl.h>
#include <histedit.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::cli {
namespace {

constexpr const char* kBracketedPasteOn = "\033[?2004h";
constexpr const char* kBracketedPasteOff = "\033[?2004l";
constexpr const char* kPasteStart = "\033[200~";

}  // namespace

TLineEditor::TLineEditor(std::string history_file) : history_file_(std::move(history_file)) {
  HistEvent event;
  history_ = history_init();
  if (history_ == nullptr) throw std::runtime_error("Cannot start the line history");
  history(history_, &event, H_SETSIZE, kHistoryLines);
  history(history_, &event, H_SETUNIQUE, 1);  // a line repeated at once is kept once
  if (!history_file_.empty()) {
    const int fd = open(history_file_.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
    history(history_, &event, H_LOAD, history_file_.c_str());
    DropOverlongLines();
  }
  // No XON/XOFF flow control while the shell runs: a Ctrl-S typed or pasted would otherwise stop
  // all output until a Ctrl-Q. The editor takes the terminal's settings from here on.
  if (tcgetattr(STDIN_FILENO, &terminal_before_) == 0) {
    restore_terminal_ = true;
    termios mode = terminal_before_;
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON);
    tcsetattr(STDIN_FILENO, TCSADRAIN, &mode);
  }
  editor_ = el_init("velmora-cli", stdin, stdout, stderr);
  if (editor_ == nullptr) {
    history_end(history_);
    throw std::runtime_error("Cannot start the line editor");
  }
  el_set(editor_, EL_CLIENTDATA, this);
  el_set(editor_, EL_PROMPT, &TLineEditor::Prompt);
  el_set(editor_, EL_EDITOR, "emacs");
  el_set(editor_, EL_HIST, history, history_);
  // While a line is read, libedit's own handlers put the terminal back around a suspend (Ctrl-Z)
  // and follow a resize; a SIGINT is passed on to the program's handler and ends the read.
  el_set(editor_, EL_SIGNAL, 1);
  el_source(editor_, nullptr);  // ~/.editrc
  // The wide call keeps the two names as given (the narrow one copies them and never frees them).
  el_wset(editor_, EL_ADDFN, L"velmora-paste", L"take pasted text literally", &TLineEditor::Paste);
  el_set(editor_, EL_BIND, kPasteStart, "velmora-paste", nullptr);
}

TLineEditor::~TLineEditor() {
  if (unsaved_) Save();
  el_end(editor_);
  history_end(history_);
  if (restore_terminal_) tcsetattr(STDIN_FILENO, TCSADRAIN, &terminal_before_);
}

// Bound to the start marker of a paste; reads to its end marker. Every key in between is text,
// control bytes included; a line end enters the line, and the paste goes on at the next read.
unsigned char TLineEditor::Paste(editline* el, int) {
  void* data = nullptr;
  el_get(el, EL_CLIENTDATA, &data);
  auto* self = static_cast<TLineEditor*>(data);
  static constexpr std::wstring_view kEnd = L"\033[201~";
  self->in_paste_ = true;
  std::wstring held;  // read so far of what may be the end marker
  for (;;) {
    wchar_t c = 0;
    if (el_wgetc(el, &c) != 1) {  // Ctrl-C or the terminal gone
      self->in_paste_ = false;
      return CC_EOF;
    }
    held.push_back(c);
    if (kEnd.starts_with(held)) {
      if (held.size() < kEnd.size()) continue;
      self->in_paste_ = false;
      return CC_REFRESH;
    }
    // Not the marker: what was held is text. Only its last key can be a line end or begin a
    // marker, the others matched the marker's beginning.
    const wchar_t last = held.back();
    held.pop_back();
    if (!held.empty()) el_winsertstr(el, held.c_str());
    held.clear();
    if (last == L'\r' || last == L'\n') {
      // Shown first, then entered by the usual key, which ends the line as typing does.
      el_wpush(el, L"\r");
      return CC_REFRESH;
    }
    if (last == L'\033') {
      held.push_back(last);
    } else if (last != L'\0') {
      const wchar_t text[2] = {last, L'\0'};
      el_winsertstr(el, text);
    }
  }
}

void TLineEditor::DropTypedAhead() {
  tcflush(STDIN_FILENO, TCIFLUSH);
  in_paste_ = false;
}

char* TLineEditor::Prompt(editline* el) {
  void* self = nullptr;
  el_get(el, EL_CLIENTDATA, &self);
  return static_cast<TLineEditor*>(self)->prompt_.data();
}

TLineEditor::Outcome TLineEditor::ReadLine(std::string_view prompt, std::string& line) {
  SaveWhenIdle();
  prompt_.assign(prompt);
  int count = 0;
  errno = 0;
  // The terminal brackets what is pasted while the line is read (and only then: a program run
  // from the shell's output must not see the markers).
  std::fputs(kBracketedPasteOn, stdout);
  std::fflush(stdout);
  if (in_paste_) el_push(editor_, kPasteStart);
  const char* text = el_gets(editor_, &count);
  std::fputs(kBracketedPasteOff, stdout);
  std::fflush(stdout);
  if (text == nullptr) return count < 0 && errno == EINTR ? Outcome::Interrupted : Outcome::End;
  line.assign(text, static_cast<size_t>(count));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return Outcome::Line;
}

void TLineEditor::Remember(const std::string& line) {
  if (line.size() > kHistoryLineMaxBytes) return;
  HistEvent event;
  history(history_, &event, H_ENTER, line.c_str());
  unsaved_ = true;
  SaveWhenIdle();
}

// Keys typed ahead or a paste still to be read: the file is written once they are done.
void TLineEditor::SaveWhenIdle() {
  if (!unsaved_) return;
  pollfd input{STDIN_FILENO, POLLIN, 0};
  if (poll(&input, 1, 0) == 1 && (input.revents & POLLIN) != 0) return;
  Save();
}

void TLineEditor::Save() {
  unsaved_ = false;
  if (history_file_.empty()) return;
  HistEvent event;
  history(history_, &event, H_SAVE, history_file_.c_str());
}

// Rebuilds the history without its overlong lines, oldest first, when it holds any.
void TLineEditor::DropOverlongLines() {
  std::vector<std::pair<int, std::string>> kept;
  bool dropped = false;
  HistEvent event;
  for (int found = history(history_, &event, H_FIRST); found == 0;
       found = history(history_, &event, H_NEXT)) {
    const std::string_view text(event.str);
    if (text.size() > kHistoryLineMaxBytes) {
      dropped = true;
    } else {
      kept.emplace_back(event.num, std::string(text));
    }
  }
  if (!dropped) return;
  std::sort(kept.begin(), kept.end());
  history(history_, &event, H_CLEAR);
  for (const auto& [number, text] : kept) history(history_, &event, H_ENTER, text.c_str());
  unsaved_ = true;
}

}  // namespace velmora::cli
