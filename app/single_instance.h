// The single-copy rule: a local socket named after "服务器" and the user. The first copy listens
// on it; a later copy connects, asks the first to show its window, and ends.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace velmora {

// "服务器-<user>".
QString SingleInstanceName();

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
