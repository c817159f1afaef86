// What the database dialogs need of the window that opens them, and the small helpers they share.
//
// The dialogs sit below the shell, so they reach the window only through this: its stop and start
// actions (the restart after a saved test runs them as if the operator had pressed "停止服务" and
// then "启动服务") and its operator notices (the window passes its message box, which tests
// replace so that no box blocks them).
#pragma once

#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>
#include <string_view>

#include "db/core/string_list.h"

class QBoxLayout;
class QLineEdit;
class QWidget;

namespace velmora {

struct DialogHost {
  // The window's stop action; runs whatever state the service is in.
  std::function<void()> stop_service;
  // The window's start action; raises when the service cannot start (for example the port is
  // taken).
  std::function<void()> start_service;
  // A modal message box owned by `owner`.
  std::function<void(QWidget* owner, QMessageBox::Icon icon, const QString& title,
                     const QString& text)>
      message_box;
  // The application's standard error report (a box titled "服务器" with the error's text).
  std::function<void(QWidget* owner, const QString& message)> error_report;
};

// Runs a dialog operation started by the operator; an error that escapes it goes to the host's
// standard error report.
template <class F>
void RunReported(const DialogHost& host, QWidget* owner, F&& operation) {
  try {
    operation();
  } catch (const std::exception& e) {
    host.error_report(owner, QString::fromUtf8(e.what()));
  }
}

QString ToQString(std::string_view utf8);
// The value of parameter `name` ("" when absent).
QString ParamText(const TStringList& params, const char* name);

// Places a top-level window in the middle of the desktop it is on, now and when it is shown (with
// its frame, once it has one): each time, or only the first time, after which it stays where the
// operator puts it.
enum class TCentring { kEachShow, kFirstShow };
void CenterOnDesktop(QWidget* window, TCentring when = TCentring::kEachShow);

// A labelled edit added to `column`: the label (named after the field + "Label", pointing at it)
// above the field, with `beside` (if any) at the field's right.
QLineEdit* AddLabelledEdit(QWidget* parent, QBoxLayout* column, const char* name,
                           const QString& label, const QString& text = {},
                           QWidget* beside = nullptr);
// The password field's characters are shown as "*".
void ShowPasswordAsStars(QLineEdit* field);

}  // namespace velmora
