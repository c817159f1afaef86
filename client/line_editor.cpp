#include "client/line_editor.h"

#include <fcntl.h>
#include <histedit.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::cli {

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
}

TLineEditor::~TLineEditor() {
  if (unsaved_) Save();
  el_end(editor_);
  history_end(history_);
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
  const char* text = el_gets(editor_, &count);
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
