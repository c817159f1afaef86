#include "client/interrupt_key.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace velmora::cli {
namespace {

// The handler may only touch these: a flag and the write end of a non-blocking pipe.
volatile std::sig_atomic_t g_pressed = 0;
int g_pipe[2] = {-1, -1};
struct sigaction g_previous {};

extern "C" void OnInterrupt(int) {
  const int saved = errno;
  g_pressed = 1;
  const char byte = 0;
  [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);  // a full pipe already wakes
  errno = saved;
}

}  // namespace

TInterruptKey::TInterruptKey() {
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error("Cannot make the pipe for Ctrl-C");
  g_pressed = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a read of the terminal gives up
  sigaction(SIGINT, &action, &g_previous);
}

TInterruptKey::~TInterruptKey() {
  sigaction(SIGINT, &g_previous, nullptr);
  close(g_pipe[0]);
  close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

int TInterruptKey::Fd() const {
  return g_pipe[0];
}

bool TInterruptKey::Take() {
  char bytes[64];
  while (read(g_pipe[0], bytes, sizeof bytes) > 0) {
  }
  const bool pressed = g_pressed != 0;
  g_pressed = 0;
  return pressed;
}

bool TInterruptKey::Pending() const {
  return g_pressed != 0;
}

}  // namespace velmora::cli
