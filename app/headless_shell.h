// The program without widgets: the same start-up and service, with every log line on standard
// output and every error that would open a box on standard error.
#pragma once

#include <QObject>
#include <QString>
#include <cstdio>

namespace velmora {

class TServiceController;

class THeadlessShell : public QObject {
  Q_OBJECT

 public:
  // Log lines go to `out` (one line each, flushed); errors to `err`.
  explicit THeadlessShell(TServiceController& service, std::FILE* out = stdout,
                          std::FILE* err = stderr, QObject* parent = nullptr);

  // Reads CONFIG.CFG below AppPath() (defaults for what it lacks), puts its limits in force, hands
  // the account and password to the login check and starts the service on the configured port.
  // False, with the reason on the error stream, when the service cannot start.
  bool StartUp();
  // Stops the service and starts it again on the port StartUp read. Raises (after reporting it on
  // the error stream) when it cannot start; the service then stays stopped.
  void Restart();
  void ReportError(const QString& message);

 private:
  TServiceController& service_;
  std::FILE* out_;
  std::FILE* err_;
  QString port_text_;
};

}  // namespace velmora
