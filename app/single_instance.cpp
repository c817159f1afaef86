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
        if (socket->readAll().contains("show")) Q_EMIT ShowRequested();
      });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
  return true;
}

}  // namespace velmora
