// SIGINT and SIGTERM end the event loop the way the tray's "退出程序" does. The handler only
// writes one byte into a pipe; the loop reads it and quits.
#pragma once

#include <QObject>

namespace velmora {

class TQuitSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; the loop of QCoreApplication::instance() quits on either signal.
  explicit TQuitSignals(QObject* parent = nullptr);
  // Restores the default handlers.
  ~TQuitSignals() override;
  TQuitSignals(const TQuitSignals&) = delete;
  TQuitSignals& operator=(const TQuitSignals&) = delete;
};

}  // namespace velmora
