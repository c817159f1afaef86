// SIGINT and SIGTERM end the server's event loop the way the tray's "退出程序" does.
//
// The rules:
// - BlockQuitSignals() runs in main before the application object or any thread exists, so every
//   thread of the process inherits the two signals blocked and no handler runs for them anywhere:
//   neither ours nor a library's. (The Firebird client installs its own handlers when it loads;
//   they interrupt whichever thread the signal lands on and start the engine's own shutdown, racing
//   the stop of the pooled attachments.)
// - TQuitSignals takes them from a signalfd on the event loop's thread; the loop quits on the
//   first. A later one is not acted on: the stop already under way ends the program.
// - They stay blocked to the end of the process; the program starts no other program that would
//   inherit that.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace velmora {

// Blocks SIGINT and SIGTERM in the calling thread and so in every thread started after it.
void BlockQuitSignals();

class TQuitSignals : public QObject {
  Q_OBJECT

 public:
  // Blocks the signals in the calling thread (see BlockQuitSignals for the others) and watches
  // for them; the loop of QCoreApplication::instance() quits on either.
  explicit TQuitSignals(QObject* parent = nullptr);
  ~TQuitSignals() override;
  TQuitSignals(const TQuitSignals&) = delete;
  TQuitSignals& operator=(const TQuitSignals&) = delete;

 private:
  int fd_ = -1;                          // the signalfd
  QSocketNotifier* notifier_ = nullptr;  // watches fd_; deleted before fd_ is closed
};

}  // namespace velmora
