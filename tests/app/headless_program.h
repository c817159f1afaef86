// The headless server of one application folder as a child process, for the tests that meet the
// program as its operator does: `velmora --headless --app-dir DIR` started without a display, its
// standard output read as it comes, killed when the object goes if it still runs.
//
// Needs VELMORA_PROGRAM, the path of the program, defined by the test's target.
#pragma once

#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <string>

namespace velmora::test {

// This process's environment without a display, so that the program runs headless.
inline QProcessEnvironment NoDisplayEnvironment() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  return env;
}

class HeadlessProgram {
 public:
  explicit HeadlessProgram(const std::string& app_dir) {
    process_.setProcessEnvironment(NoDisplayEnvironment());
    process_.start(QStringLiteral(VELMORA_PROGRAM),
                   {QStringLiteral("--headless"), QStringLiteral("--app-dir"),
                    QString::fromStdString(app_dir)});
  }
  ~HeadlessProgram() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  HeadlessProgram(const HeadlessProgram&) = delete;
  HeadlessProgram& operator=(const HeadlessProgram&) = delete;

  // Waits until standard output holds `text`: false after `ms` milliseconds, or once the program
  // has ended without writing it (what it wrote last is read first).
  bool WaitForOutput(const QString& text, int ms = 15000) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
      out_ += QString::fromUtf8(process_.readAllStandardOutput());
      if (out_.contains(text)) return true;
      if (timer.elapsed() > ms || process_.state() == QProcess::NotRunning) {
        out_ += QString::fromUtf8(process_.readAllStandardOutput());
        return out_.contains(text);
      }
      process_.waitForReadyRead(50);
    }
  }
  // Sends SIGTERM; the exit code, or -1 when the program did not end within `ms` or crashed.
  int Terminate(int ms = 15000) {
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    if (!process_.waitForFinished(ms) || process_.exitStatus() != QProcess::NormalExit) return -1;
    return process_.exitCode();
  }

  QProcess& Process() { return process_; }
  // Standard output as read so far.
  const QString& Output() const { return out_; }
  // Standard output and standard error as read so far, for a failure's message.
  std::string Log() {
    out_ += QString::fromUtf8(process_.readAllStandardOutput());
    err_ += QString::fromUtf8(process_.readAllStandardError());
    return (out_ + err_).toStdString();
  }

 private:
  QProcess process_;
  QString out_;
  QString err_;
};

}  // namespace velmora::test
