// The service manager's readiness protocol (sd_notify) for the headless program run as a systemd
// service of Type=notify: READY=1 once the service listens, STATUS= with the port and the number
// of logged-in clients while it runs, STOPPING=1 when the program's stop begins.
//
// The rules:
// - Without NOTIFY_SOCKET in the environment (the program was not started by systemd) nothing is
//   sent; a message the manager does not take is dropped, never reported: the service runs on.
// - READY=1 goes once, with the first start. A restart of the service (a new database setting)
//   only changes STATUS.
// - STOPPING=1 goes when the event loop is about to end (SIGTERM, SIGINT), before the stop's drain
//   of unfinished calls.
//
// Threads: the controller's thread only; the controller's signals arrive there.
#pragma once

#include <QObject>
#include <QString>

namespace velmora {

class TServiceController;

class TServiceNotifier : public QObject {
  Q_OBJECT

 public:
  // Follows `service` and the application's event loop from now on.
  explicit TServiceNotifier(TServiceController& service, QObject* parent = nullptr);

  // "Serving on port 211, 3 clients" while running, "Stopped" otherwise.
  static QString StatusText(bool running, int port, int clients);

 private:
  void SendStatus();

  TServiceController& service_;
  bool ready_sent_ = false;
};

}  // namespace velmora
