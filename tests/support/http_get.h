// One HTTP GET to a listener on this machine, for the tests of the monitoring endpoints: plain
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

// GET `path` on 127.0.0.1:`port`.
inline HttpReply Get(int port, const std::string& path) {
  HttpReply reply;
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return reply;
  }
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
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

}  // namespace velmora::test
