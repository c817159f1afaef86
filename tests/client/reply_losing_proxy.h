// ReplyLosingProxy: a loopback TCP relay in front of a server that can lose one reply on purpose,
// so a test can make "the call ran but its reply never came" happen exactly once.
//
// Every client connection is relayed to 127.0.0.1:upstream over a connection of its own; when the
// upstream cannot be reached the client's connection is closed at once (as a load balancer with
// no server does). After LoseNextReply the next bytes any server sends are held back: the proxy
// waits for DropHeldReply, then closes both sides without passing them on.
//
// Threads: the owner calls the members from one thread; the relay runs on threads of its own that
// the destructor (or Shutdown) stops and joins.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::test {

class ReplyLosingProxy {
 public:
  // Listens on a free 127.0.0.1 port. Raises std::runtime_error when it cannot.
  explicit ReplyLosingProxy(uint16_t upstream_port);
  ~ReplyLosingProxy();
  ReplyLosingProxy(const ReplyLosingProxy&) = delete;
  ReplyLosingProxy& operator=(const ReplyLosingProxy&) = delete;

  uint16_t Port() const { return port_; }
  // Client connections accepted so far.
  int Accepted() const { return accepted_.load(); }

  void LoseNextReply();
  // Waits (up to 10 s) until a reply is held back: the server has answered the call.
  bool WaitForHeldReply();
  // Closes the held reply's connection on both sides; the client never sees the reply.
  void DropHeldReply();
  // Stops listening and closes every relayed connection; the port then refuses.
  void Shutdown();

 private:
  struct Relay;
  void AcceptLoop();
  void Pump(Relay& relay, bool from_server);

  uint16_t upstream_port_;
  uint16_t port_ = 0;
  int listen_fd_ = -1;
  std::atomic<int> accepted_{0};
  std::atomic<bool> lose_next_{false};
  std::mutex mu_;
  std::condition_variable changed_;
  bool held_ = false;
  bool drop_ = false;
  bool stopping_ = false;
  std::vector<std::unique_ptr<Relay>> relays_;  // guarded by mu_
  std::vector<std::thread> threads_;            // guarded by mu_
  std::thread acceptor_;
};

}  // namespace velmora::test
