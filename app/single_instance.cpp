#include "app/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include "common/app_path.h"

namespace velmora {

namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kBackupNowRequest[] = "backup-now\n";
constexpr char kDone[] = "done";
constexpr char kRefused[] = "refused";
constexpr char kBufferProperty[] = "velmoraRequest";

// How long a request waits to reach a copy that answers on the name.
constexpr int kConnectWaitMs = 500;

QByteArray AnswerLine(const TCopyAnswer& answer) {
  QString text = answer.text;
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return QByteArray(answer.done ? kDone : kRefused) + '\t' + text.toUtf8() + '\n';
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
        // A request is one line; it may come in pieces.
        QByteArray pending = socket->property(kBufferProperty).toByteArray() + socket->readAll();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
          const QByteArray line = pending.left(end + 1);
          pending.remove(0, end + 1);
          Answer(socket, line);
        }
        socket->setProperty(kBufferProperty, pending);
      });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
  return true;
}

void TSingleInstance::Answer(QLocalSocket* socket, const QByteArray& request) {
  if (request == kShowRequest) {
    Q_EMIT ShowRequested();
  } else if (request == kBackupNowRequest) {
    const TCopyAnswer answer =
        backup_now_ ? backup_now_() : TCopyAnswer{false, QStringLiteral("This copy makes no backups")};
    socket->write(AnswerLine(answer));
    socket->flush();
    socket->disconnectFromServer();
  }
}

std::optional<TCopyAnswer> TSingleInstance::RequestBackupNow() {
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(kConnectWaitMs)) return std::nullopt;
  socket.write(kBackupNowRequest);
  socket.waitForBytesWritten(kConnectWaitMs);
  QByteArray reply;
  // The answer comes when the backup has ended, however long that takes.
  while (!reply.contains('\n') && socket.waitForReadyRead(-1)) reply += socket.readAll();
  reply += socket.readAll();
  const qsizetype tab = reply.indexOf('\t');
  const qsizetype end = reply.indexOf('\n');
  if (tab < 0 || end < tab) {
    return TCopyAnswer{false, QStringLiteral("The running copy gave no answer")};
  }
  return TCopyAnswer{reply.left(tab) == kDone, QString::fromUtf8(reply.mid(tab + 1, end - tab - 1))};
}

}  // namespace velmora
