#include "app/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <algorithm>

#include "common/app_path.h"

namespace velmora {

namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kCallPrefix[] = "call ";

QByteArray Encoded(const QString& text) {
  return text.toUtf8().toBase64();
}

QString Decoded(const QByteArray& base64) {
  return QString::fromUtf8(QByteArray::fromBase64(base64));
}

}  // namespace

QString SingleInstanceName(const QString& app_folder) {
  QString user = qEnvironmentVariable("USER");
  if (user.isEmpty()) user = QString::number(::getuid());
  const QString given = app_folder.isEmpty() ? QString::fromStdString(AppPath()) : app_folder;
  const QFileInfo info(given);
  const QString canonical = info.canonicalFilePath();
  const QString folder = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
  // A digest, not the path: socket names are short, and a path may hold any character.
  const QByteArray digest =
      QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
  return QStringLiteral("服务器-") + user + QLatin1Char('-') + QString::fromLatin1(digest);
}

TSingleInstance::TSingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {}

bool TSingleInstance::NotifyRunningCopy() {
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(500)) return false;
  socket.write(kShowRequest);
  socket.waitForBytesWritten(500);
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(500);
  return true;
}

bool TSingleInstance::Listen() {
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name_)) {
    // Nobody answered on the name, so what is left of it belongs to a copy that has died.
    QLocalServer::removeServer(name_);
    if (!server_->listen(name_)) return false;
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        // Whole lines only; a request may arrive in pieces.
        while (socket->canReadLine()) Serve(socket, socket->readLine().trimmed());
      });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
  return true;
}

void TSingleInstance::SetRequestHandler(const QString& command, TInstanceRequestHandler handler) {
  handlers_[command] = std::move(handler);
}

void TSingleInstance::Serve(QLocalSocket* socket, const QByteArray& line) {
  if (line == "show") {
    Q_EMIT ShowRequested();
    return;
  }
  if (!line.startsWith(kCallPrefix)) return;
  const QList<QByteArray> parts =
      line.mid(static_cast<qsizetype>(sizeof kCallPrefix) - 1).split(' ');
  const QString command = QString::fromUtf8(parts.value(0));
  CommandOutcome outcome{1,
                         QStringLiteral("The running copy knows no request \"%1\"").arg(command)};
  const auto handler = handlers_.find(command);
  // The caller may give up while the handler runs; its socket then goes with it.
  QPointer<QLocalSocket> guard(socket);
  if (handler != handlers_.end()) outcome = handler->second(Decoded(parts.value(1)));
  if (guard == nullptr || guard->state() != QLocalSocket::ConnectedState) return;
  guard->write(QByteArray::number(outcome.exit_code) + ' ' + Encoded(outcome.text) + '\n');
  guard->flush();
  guard->disconnectFromServer();
}

std::optional<CommandOutcome> TSingleInstance::SendRequest(const QString& command,
                                                           const QString& argument, int reply_ms) {
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(500)) return std::nullopt;
  socket.write(kCallPrefix + command.toUtf8() + ' ' + Encoded(argument) + '\n');
  socket.waitForBytesWritten(500);
  const QDeadlineTimer deadline(reply_ms);
  while (!socket.canReadLine()) {
    if (socket.state() != QLocalSocket::ConnectedState) {
      return CommandOutcome{1, QStringLiteral("The running copy ended without a reply")};
    }
    if (deadline.hasExpired()) {
      return CommandOutcome{
          1, QStringLiteral("The running copy did not reply within %1 s").arg(reply_ms / 1000)};
    }
    socket.waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000)));
  }
  const QList<QByteArray> reply = socket.readLine().trimmed().split(' ');
  bool numeric = false;
  const int code = reply.value(0).toInt(&numeric);
  if (!numeric)
    return CommandOutcome{1, QStringLiteral("The running copy's reply is not understood")};
  return CommandOutcome{code, Decoded(reply.value(1))};
}

}  // namespace velmora
