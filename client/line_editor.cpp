#include "client/line_editor.h"

#include <fcntl.h>
#include <histedit.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

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
  el_end(editor_);
  history_end(history_);
}

char* TLineEditor::Prompt(editline* el) {
  void* self = nullptr;
  el_get(el, EL_CLIENTDATA, &self);
  return static_cast<TLineEditor*>(self)->prompt_.data();
}

TLineEditor::Outcome TLineEditor::ReadLine(std::string_view prompt, std::string& line) {
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
  HistEvent event;
  history(history_, &event, H_ENTER, line.c_str());
  if (!history_file_.empty()) history(history_, &event, H_SAVE, history_file_.c_str());
}

}  // namespace velmora::cli
