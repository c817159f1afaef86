#include "app/service_notify.h"

#include <systemd/sd-daemon.h>

#include <QByteArray>
#include <QCoreApplication>

#include "app/service_controller.h"

namespace velmora {

namespace {

// sd_notify itself does nothing when NOTIFY_SOCKET is unset; its failures are of no consequence
// to the service, so they are not looked at.
void Notify(const QByteArray& message) {
  sd_notify(0, message.constData());
}

}  // namespace

TServiceNotifier::TServiceNotifier(TServiceController& service, QObject* parent)
    : QObject(parent), service_(service) {
  connect(&service_, &TServiceController::StateChanged, this, [this](bool running) {
    if (running && !ready_sent_) {
      ready_sent_ = true;
      Notify("READY=1\nSTATUS=" + StatusText(true, service_.Port(), service_.UserCount()).toUtf8());
      return;
    }
    SendStatus();
  });
  connect(&service_, &TServiceController::UserCountChanged, this, [this] { SendStatus(); });
  if (QCoreApplication* app = QCoreApplication::instance()) {
    connect(app, &QCoreApplication::aboutToQuit, this,
            [] { Notify("STOPPING=1\nSTATUS=Stopping"); });
  }
}

QString TServiceNotifier::StatusText(bool running, int port, int clients) {
  if (!running) return QStringLiteral("Stopped");
  return QStringLiteral("Serving on port %1, %2 client%3")
      .arg(port)
      .arg(clients)
      .arg(clients == 1 ? QString() : QStringLiteral("s"));
}

void TServiceNotifier::SendStatus() {
  Notify("STATUS=" +
         StatusText(service_.Started(), service_.Port(), service_.UserCount()).toUtf8());
}

}  // namespace velmora
