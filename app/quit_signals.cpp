#include "app/quit_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "common/velmora_error.h"

namespace velmora {

namespace {

sigset_t QuitSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void BlockQuitSignals() {
  const sigset_t set = QuitSignalSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TQuitSignals::TQuitSignals(QObject* parent) : QObject(parent) {
  BlockQuitSignals();
  const sigset_t set = QuitSignalSet();
  fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) throw EVelmoraError("Cannot create the signal descriptor");
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    signalfd_siginfo info{};
    [[maybe_unused]] const ssize_t got = ::read(fd_, &info, sizeof info);
    notifier_->setEnabled(false);
    QCoreApplication::exit(0);  // not quit: that would ask the windows to close first
  });
}

TQuitSignals::~TQuitSignals() {
  delete notifier_;
  ::close(fd_);
}

}  // namespace velmora
