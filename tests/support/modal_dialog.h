// Acting on a modal dialog while it is shown: the code under test opens it with exec(), which
// returns only when the dialog closes, so the test's steps run from a timer inside that loop.
// Header only: the tests that use it link Qt Widgets themselves.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>

namespace velmora::test {

// Runs `open`, which shows a modal dialog, and once the dialog named `name` is the active modal
// window runs `act` on it; a dialog still shown after `act` is rejected. Nests: `act` may open
// another dialog the same way. False when no such dialog appeared within 5 s (any modal window
// is then rejected, so that the test goes on).
inline bool WithModal(const QString& name, const std::function<void()>& open,
                      const std::function<void(QDialog&)>& act) {
  bool seen = false;
  QTimer poll;
  poll.setInterval(10);
  QElapsedTimer waited;
  waited.start();
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QPointer<QDialog> dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog != nullptr && dialog->objectName() == name) {
      poll.stop();
      seen = true;
      act(*dialog);
      if (dialog != nullptr && dialog->isVisible()) dialog->reject();
      return;
    }
    if (waited.elapsed() > 5000) {
      poll.stop();
      if (dialog != nullptr) dialog->reject();
    }
  });
  poll.start();
  open();
  poll.stop();
  return seen;
}

}  // namespace velmora::test
