// Message boxes for the operator, through one function that tests can replace so that no box
// blocks them, and the application's standard error report (a box titled "服务器").
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace velmora {

using TMessageBoxHandler = std::function<void(QWidget* owner, QMessageBox::Icon icon,
                                              const QString& title, const QString& text)>;

// Shows a modal box owned by `owner`, or calls the handler set below instead.
void ShowMessageBox(QWidget* owner, QMessageBox::Icon icon, const QString& title,
                    const QString& text);
// Replaces the box; an empty handler restores it. Returns the previous handler.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);

// The error's text as the report shows it: a full stop is appended when the last character's
// code is above that of '.'.
QString ErrorReportText(const QString& message);
// The standard error report: an error box titled "服务器".
void ShowErrorReport(QWidget* owner, const QString& message);

}  // namespace velmora
