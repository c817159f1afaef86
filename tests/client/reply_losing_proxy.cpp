#include "tests/client/reply_losing_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace velmora::test {

struct ReplyLosingProxy::Relay {
  int client = -1;
  int server = -1;
  ~Relay() {
    ::close(client);
    ::close(server);
  }
  // Wakes both pumps; the descriptors stay open until the threads are joined.
  void Cut() const {
    ::shutdown(client, SHUT_RDWR);
    ::shutdown(server, SHUT_RDWR);
  }
};

namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

bool SendAll(int fd, const char* data, ssize_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= n;
  }
  return true;
}

}  // namespace

ReplyLosingProxy::ReplyLosingProxy(uint16_t upstream_port) : upstream_port_(upstream_port) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listen_fd_, 16) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(listen_fd_);
    throw std::runtime_error("the proxy cannot listen");
  }
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ReplyLosingProxy::~ReplyLosingProxy() {
  Shutdown();
}

void ReplyLosingProxy::AcceptLoop() {
  for (;;) {
    const int client = ::accept(listen_fd_, nullptr, nullptr);
    if (client < 0) return;  // Shutdown closed the listening socket
    ++accepted_;
    auto relay = std::make_unique<Relay>();
    relay->client = client;
    relay->server = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in up = Loopback(upstream_port_);
    if (::connect(relay->server, reinterpret_cast<const sockaddr*>(&up), sizeof up) != 0) {
      continue;  // no server: the client's connection closes with the relay
    }
    std::lock_guard lock(mu_);
    if (stopping_) return;
    Relay& r = *relay;
    relays_.push_back(std::move(relay));
    threads_.emplace_back([this, &r] { Pump(r, /*from_server=*/false); });
    threads_.emplace_back([this, &r] { Pump(r, /*from_server=*/true); });
  }
}

void ReplyLosingProxy::Pump(Relay& relay, bool from_server) {
  const int from = from_server ? relay.server : relay.client;
  const int to = from_server ? relay.client : relay.server;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    if (from_server && lose_next_.exchange(false)) {
      std::unique_lock lock(mu_);
      held_ = true;
      changed_.notify_all();
      changed_.wait(lock, [&] { return drop_ || stopping_; });
      held_ = drop_ = false;
      break;
    }
    if (!SendAll(to, buffer, n)) break;
  }
  relay.Cut();
}

void ReplyLosingProxy::LoseNextReply() {
  lose_next_ = true;
}

bool ReplyLosingProxy::WaitForHeldReply() {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return held_; });
}

void ReplyLosingProxy::DropHeldReply() {
  std::lock_guard lock(mu_);
  drop_ = true;
  changed_.notify_all();
}

void ReplyLosingProxy::Shutdown() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mu_);
    if (stopping_) return;
    stopping_ = true;
    changed_.notify_all();
    for (const auto& r : relays_) r->Cut();
    threads.swap(threads_);
  }
  ::shutdown(listen_fd_, SHUT_RDWR);  // wakes accept
  acceptor_.join();
  ::close(listen_fd_);
  for (std::thread& t : threads) t.join();
  relays_.clear();
}

}  // namespace velmora::test
