// HTTP requests to a listener on this machine, for the tests of the monitoring endpoints: plain
// sockets, HTTP/1.1, the reply read until the server closes the connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace velmora::test {

struct HttpReply {
  int status = 0;  // 0: no answer
  std::string body;
};

// A TCP connection to 127.0.0.1:`port`, or -1. `wait`: how long a receive may block.
inline int ConnectLoopback(int port, int wait_ms = 10000) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  timeval wait{wait_ms / 1000, (wait_ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  return fd;
}

// Sends `request` as it is and reads the reply until the server closes the connection; no
// answer within `wait_ms` (for each receive) leaves status 0.
inline HttpReply Request(int port, const std::string& request, int wait_ms = 10000) {
  HttpReply reply;
  const int fd = ConnectLoopback(port, wait_ms);
  if (fd < 0) return reply;
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
    ::close(fd);
    return reply;
  }
  std::string all;
  char buffer[8192];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
    all.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  const size_t head_end = all.find("\r\n\r\n");
  if (all.rfind("HTTP/1.", 0) != 0 || head_end == std::string::npos) return reply;
  reply.status = std::atoi(all.c_str() + all.find(' ') + 1);
  reply.body = all.substr(head_end + 4);
  return reply;
}

// GET `path` on 127.0.0.1:`port`.
inline HttpReply Get(int port, const std::string& path, int wait_ms = 10000) {
  return Request(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", wait_ms);
}

}  // namespace velmora::test
