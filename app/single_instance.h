// The single-copy rule: one server per application folder. A local socket is named after "服务器",
// the user and the application folder; the first copy listens on it; a later copy for the same
// folder connects, asks the first to show its window, and ends (headless, it says so on standard
// error). Copies for other folders, with ports and databases of their own, run side by side.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace velmora {

// "服务器-<user>-<16 hex digits naming the folder>" for the application folder (AppPath() when
// empty); two spellings of one folder give one name.
QString SingleInstanceName(const QString& app_folder = {});

class TSingleInstance : public QObject {
  Q_OBJECT

 public:
  explicit TSingleInstance(QString name = SingleInstanceName(), QObject* parent = nullptr);

  // True when another copy answers on the name; it has been asked to show its window.
  bool NotifyRunningCopy();
  // Starts listening (replacing a name left behind by a copy that died). False when it cannot.
  bool Listen();

 Q_SIGNALS:
  // A later copy asked this one to show itself.
  void ShowRequested();

 private:
  QString name_;
  QLocalServer* server_ = nullptr;
};

}  // namespace velmora
