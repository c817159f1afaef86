// The single-copy rule: one server per application folder. A local socket is named after "服务器",
// the user and the application folder; the first copy listens on it; a later copy for the same
// folder connects, asks the first to show its window, and ends (headless, it says so on standard
// error). Copies for other folders, with ports and databases of their own, run side by side.
//
// The same channel carries the operator's commands to the running copy (`--set-database`): a
// later copy sends one request and waits for the reply, which the running copy writes after it has
// carried the command out on its own thread.
//
// On the socket, one line each way: "show"; or "call <command> <argument>" answered by
// "<exit status> <text>", argument and text UTF-8 in base64.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <optional>

#include "app/command_outcome.h"

class QLocalServer;
class QLocalSocket;

namespace velmora {

// "服务器-<user>-<16 hex digits naming the folder>" for the application folder (AppPath() when
// empty); two spellings of one folder give one name.
QString SingleInstanceName(const QString& app_folder = {});

using TInstanceRequestHandler = std::function<CommandOutcome(const QString& argument)>;

class TSingleInstance : public QObject {
  Q_OBJECT

 public:
  explicit TSingleInstance(QString name = SingleInstanceName(), QObject* parent = nullptr);

  // True when another copy answers on the name; it has been asked to show its window.
  bool NotifyRunningCopy();
  // Starts listening (replacing a name left behind by a copy that died). False when it cannot.
  bool Listen();

  // Serves the requests named `command` with `handler`, on this object's thread; the reply is sent
  // when the handler returns. A request for a command without a handler is refused.
  void SetRequestHandler(const QString& command, TInstanceRequestHandler handler);
  // Refuses every command from now on: the objects the handlers act on are going away.
  void ClearRequestHandlers() { handlers_.clear(); }
  // Sends `command` with `argument` to the running copy and waits up to `reply_ms` for its reply.
  // nullopt when no copy answers on the name; a refusal when the copy does not reply in time or
  // ends without replying.
  std::optional<CommandOutcome> SendRequest(const QString& command, const QString& argument,
                                            int reply_ms);

 Q_SIGNALS:
  // A later copy asked this one to show itself.
  void ShowRequested();

 private:
  void Serve(QLocalSocket* socket, const QByteArray& line);

  QString name_;
  QLocalServer* server_ = nullptr;
  std::map<QString, TInstanceRequestHandler> handlers_;
};

}  // namespace velmora
