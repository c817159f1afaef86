#include "app/operator_notice.h"

#include <utility>

namespace velmora {

namespace {

TMessageBoxHandler& Handler() {
  static TMessageBoxHandler handler;
  return handler;
}

}  // namespace

void ShowMessageBox(QWidget* owner, QMessageBox::Icon icon, const QString& title,
                    const QString& text) {
  if (const auto& handler = Handler()) {
    handler(owner, icon, title, text);
    return;
  }
  QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
  box.exec();
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}

QString ErrorReportText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + QLatin1Char('.');
  return message;
}

void ShowErrorReport(QWidget* owner, const QString& message) {
  ShowMessageBox(owner, QMessageBox::Critical, QStringLiteral("服务器"), ErrorReportText(message));
}

}  // namespace velmora
