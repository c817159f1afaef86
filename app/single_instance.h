// The single-copy rule: one server per application folder. A local socket is named after "服务器",
// the user and the application folder; the first copy listens on it; a later copy for the same
// folder connects, asks the first to show its window, and ends (headless, it says so on standard
// error). Copies for other folders, with ports and databases of their own, run side by side.
//
// The same channel carries requests a later copy makes of the running one (`velmora
// --backup-now`): one line asks, one line answers, then the running copy closes the connection.
//   "show\n"                        show the window (no answer)
//   "backup-now\n"                  make a backup now; answered "done\t<text>\n" or
//                                   "refused\t<text>\n" once the backup has ended
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace velmora {

// "服务器-<user>-<16 hex digits naming the folder>" for the application folder (AppPath() when
// empty); two spellings of one folder give one name.
QString SingleInstanceName(const QString& app_folder = {});

// The running copy's answer to a request: whether it was done, and the outcome's text.
struct TCopyAnswer {
  bool done = false;
  QString text;
};

class TSingleInstance : public QObject {
  Q_OBJECT

 public:
  using BackupNowHandler = std::function<TCopyAnswer()>;

  explicit TSingleInstance(QString name = SingleInstanceName(), QObject* parent = nullptr);

  // True when another copy answers on the name; it has been asked to show its window.
  bool NotifyRunningCopy();
  // Starts listening (replacing a name left behind by a copy that died). False when it cannot.
  bool Listen();

  // Asks the copy answering on the name for a backup now and waits for its answer, as long as
  // the backup takes; nullopt when no copy answers on the name.
  std::optional<TCopyAnswer> RequestBackupNow();
  // How this copy answers a backup request, on its own thread; without one it refuses.
  void SetBackupNowHandler(BackupNowHandler handler) { backup_now_ = std::move(handler); }

 Q_SIGNALS:
  // A later copy asked this one to show itself.
  void ShowRequested();

 private:
  void Answer(QLocalSocket* socket, const QByteArray& request);

  QString name_;
  QLocalServer* server_ = nullptr;
  BackupNowHandler backup_now_;
};

}  // namespace velmora
