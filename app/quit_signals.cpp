#include "app/quit_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

#include "common/velmora_error.h"

namespace velmora {

namespace {

int g_pipe[2] = {-1, -1};

extern "C" void OnQuitSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(g_pipe[0], &byte, 1);
}

}  // namespace

TQuitSignals::TQuitSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0) {
    throw EVelmoraError("Cannot create the signal pipe");
  }
  ::fcntl(g_pipe[0], F_SETFL, O_NONBLOCK);
  auto* notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [notifier] {
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(g_pipe[1], &byte, 1);
    notifier->setEnabled(false);
    QCoreApplication::exit(0);  // not quit: that would ask the windows to close first
  });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

TQuitSignals::~TQuitSignals() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  ::close(g_pipe[0]);
  ::close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

}  // namespace velmora
