// A TCP port of 127.0.0.1 for a program a test or a benchmark starts: the kernel's choice for a
// socket bound to port 0, free at that moment (another process may take it before the program binds
// it).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::self_host {

// The port, or 0 when none could be had.
inline int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
  ::close(fd);
  return ok ? ntohs(a.sin_port) : 0;
}

}  // namespace velmora::self_host
