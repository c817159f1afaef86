#include "rpc/tcp_transport.h"

#include <fmt/format.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <system_error>
#include <vector>

#include "common/call_stop.h"
#include "common/free_memory.h"
#include "common/memory_budget.h"
#include "common/server_limits.h"
#include "common/server_metrics.h"
#include "rpc/caller_frame_size.h"
#include "rpc/frame_io.h"
#include "rpc/login_throttle.h"
#include "rpc/messages.h"
#include "rpc/rpc_errors.h"

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNever = Clock::time_point::max();
// How often the watchdog looks at deadlines and at the clients of running calls.
constexpr auto kWatchEvery = std::chrono::milliseconds(100);
// The TLS 1.2 suites the server accepts: ECDHE key exchange (forward secrecy) with AES-GCM or
// ChaCha20-Poly1305, for ECDSA and RSA certificates. Key exchange by RSA, CBC modes and SHA-1 MACs
// are refused. TLS 1.3 keeps OpenSSL's own suites, which all meet the same bar.
constexpr const char* kTls12CipherList =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
// The watchdog hands the allocator's free memory back once this many connection threads have
// ended since it last did, and then only when none has ended for kQuietTicksBeforeTrim ticks: a
// trim in the middle of a burst finds the freed memory still fragmented by the connections that
// remain, and a trim as soon as the last connection had ended left more resident after some
// rounds of the connection-rounds bench than a trim a second later.
constexpr size_t kTrimAfterEnded = 64;
constexpr int kQuietTicksBeforeTrim = 10;
// A connection's input buffer larger than this is given back after each message; the output
// buffer is kept up to kTrimAbove, as large replies are common and are not the client's doing.
constexpr size_t kKeepInput = 256u << 10;
constexpr size_t kTrimAbove = 4u << 20;
constexpr size_t kReadStep = 64u << 10;
// The most a frame's first read takes at once (the header and, usually, the whole message).
constexpr size_t kFirstRead = 16u << 10;
// What is read and thrown away after a last error message, so that the message is not lost to a
// connection reset.
constexpr size_t kDrainAfterError = 64u << 10;

void TrimBuffer(std::string& s, size_t keep) {
  if (s.capacity() > keep) std::string().swap(s);
}

enum class TPhase {
  Reading,  // waiting for or receiving a frame
  InCall,   // a message is being handled
  Writing,  // the answer is being sent, or a last error
};

}  // namespace

class TIdTCPConnection {
 public:
  explicit TIdTCPConnection(asio::io_context& io) : Socket(io) {}
  asio::ip::tcp::socket Socket;
  TDSTCPChannel Channel;
  std::string Peer;     // "address:port"
  std::string Address;  // the address alone
  Clock::time_point AcceptedAt;
  std::thread Thread;
  // Guarded by Impl::mu.
  bool Finished = false;
  bool Unauthenticated = true;  // counted among its address's connections not logged in

  // Guarded by mu; the watchdog and Stop read them under Impl::mu then mu.
  std::mutex mu;
  TPhase Phase = TPhase::Reading;
  Clock::time_point Deadline = kNever;
  std::stop_source CallStop;    // the running call's
  bool AnsweredByStop = false;  // Stop has answered the running call; its reply is not sent
};

struct TDSTCPServerTransport::Impl {
  asio::io_context io;
  std::unique_ptr<asio::ip::tcp::acceptor> acceptor;
  std::thread accept_thread;
  std::thread watch_thread;
  std::mutex stop_mu;  // serialises Start and Stop; never taken by a connection thread

  // Lock order: mu, then a connection's mu. A connection thread never takes mu while it holds
  // its own mu.
  mutable std::mutex mu;            // guards what follows
  std::condition_variable changed;  // a stop began, or a connection ended
  bool active = false;
  std::atomic<bool> draining{false};
  uint16_t bound_port = 0;
  std::list<std::unique_ptr<TIdTCPConnection>> connections;
  std::map<std::string, size_t> unauthenticated;  // per address, connections not logged in
  size_t abandoned = 0;

  // Set by Start, read-only while active.
  TDSSessionContext context;
  ServerLimits limits;
  std::function<std::thread(std::function<void()>)> starter;
  std::unique_ptr<TLoginThrottle> throttle;
  std::unique_ptr<asio::ssl::context> tls;  // set when TLS is on

  void CountLoggedIn(TIdTCPConnection& c) {  // with mu
    if (!c.Unauthenticated) return;
    c.Unauthenticated = false;
    const auto it = unauthenticated.find(c.Address);
    if (it != unauthenticated.end() && --it->second == 0) unauthenticated.erase(it);
  }
  bool AllFinished() const {  // with mu
    return std::all_of(connections.begin(), connections.end(),
                       [](const auto& c) { return c->Finished; });
  }
};

namespace {

void SetPhase(TIdTCPConnection& c, TPhase phase, Clock::time_point deadline) {
  std::lock_guard lock(c.mu);
  c.Phase = phase;
  c.Deadline = deadline;
}

std::string ErrorFrame(std::string_view text) {
  std::string out;
  TDSFrameCodec codec(kDefaultCompressMoreThan, kDefaultMaxFrameSize);
  TDSFrameCodec::Begin(out);
  EncodeError(text, out);
  codec.Seal(out);
  return out;
}

// Sends a last error message without waiting for the client, closes our sending side and throws
// away what the client has already sent, so the message is not lost to a connection reset.
void SendLastError(int fd, std::string_view text) {
  const std::string frame = ErrorFrame(text);
  [[maybe_unused]] const ssize_t sent =
      ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::shutdown(fd, SHUT_WR);
  char sink[4096];
  size_t drained = 0;
  while (drained < kDrainAfterError) {
    const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
    if (n <= 0) break;
    drained += static_cast<size_t>(n);
  }
}

// Sends a last error message on a connection's own thread, then closes our side and discards
// what the client still sends, within a frame's deadline.
template <class Stream>
void FailConnection(Stream& stream, TIdTCPConnection& c, const ServerLimits& limits,
                    TDSFrameCodec& codec, std::string& out, std::string_view text) {
  SetPhase(c, TPhase::Writing, Clock::now() + limits.FrameTimeout);
  TDSFrameCodec::Begin(out);
  EncodeError(text, out);
  codec.Seal(out);
  if (!WriteFrame(stream, out)) return;
  asio::error_code ec;
  c.Socket.shutdown(asio::socket_base::shutdown_send, ec);
  char sink[4096];
  size_t drained = 0;
  while (drained < kDrainAfterError) {
    const size_t n = stream.read_some(asio::buffer(sink), ec);
    if (ec) break;
    drained += n;
  }
}

// A frame's time: FrameTimeout, plus FrameSecondsPerMiB for each MiB in proportion.
Clock::duration FrameAllowance(const ServerLimits& limits, uint64_t bytes) {
  const auto per_mib =
      std::chrono::duration_cast<std::chrono::milliseconds>(limits.FrameSecondsPerMiB);
  return limits.FrameTimeout +
         std::chrono::milliseconds(per_mib.count() * static_cast<int64_t>(bytes / 1024) / 1024);
}

// What a connection has read beyond the frames it has handled: at most the first read's bytes.
struct TReadAhead {
  char bytes[kFirstRead];  // not initialised: only bytes[begin, end) are ever read
  size_t begin = 0;
  size_t end = 0;

  size_t Size() const { return end - begin; }
  const char* Data() const { return bytes + begin; }
  void Clear() { begin = end = 0; }
  // Moves what is left to the front, so that the rest of a header can follow it.
  void Compact() {
    std::memmove(bytes, bytes + begin, Size());
    end = Size();
    begin = 0;
  }
};

enum class TReadResult {
  Message,  // `message` holds the next message
  Closed,   // the client closed, the socket failed or a deadline passed
  Refused,  // the frame was read but cannot be taken (`refusal` says why); the connection goes on
};

// Reads one frame from a client under its deadlines and size limits. Raises EDSProtocolError for
// a frame that breaks the protocol or the limits before login.
template <class Stream>
TReadResult ReadClientFrame(Stream& stream, TIdTCPConnection& c, const ServerLimits& limits,
                            bool logged_in, TDSFrameCodec& codec, std::string& in,
                            TReadAhead& ahead, MemoryReservation& in_reserved,
                            std::string_view& message, std::string& refusal) {
  const Clock::time_point hello_deadline = c.AcceptedAt + limits.HelloTimeout;
  // Waiting for a frame: a logged-in client may be idle for a while; before login the hello's
  // deadline holds from accept on.
  SetPhase(c, TPhase::Reading, logged_in ? Clock::now() + limits.IdleTimeout : hello_deadline);
  asio::error_code ec;
  // The first read takes whatever has come, so that the header and a small message arrive in one
  // system call. Bytes past the frame's end (a client that did not wait for the answer) stay in
  // `ahead` for the next frame.
  if (ahead.Size() == 0) {
    ahead.Clear();
    const size_t n = stream.read_some(asio::buffer(ahead.bytes, sizeof ahead.bytes), ec);
    if (ec) return TReadResult::Closed;
    ahead.end = n;
  }
  const Clock::time_point start = Clock::now();
  const auto deadline = [&](uint64_t bytes) {
    const Clock::time_point d = start + FrameAllowance(limits, bytes);
    return logged_in ? d : std::min(d, hello_deadline);
  };
  SetPhase(c, TPhase::Reading, deadline(0));
  if (ahead.Size() < kFrameHeaderSize) {
    ahead.Compact();
    asio::read(stream, asio::buffer(ahead.bytes + ahead.end, kFrameHeaderSize - ahead.Size()), ec);
    if (ec) return TReadResult::Closed;
    ahead.end = kFrameHeaderSize;
  }
  const FrameHeader h = codec.ParseHeader(reinterpret_cast<const uint8_t*>(ahead.Data()));
  if (!logged_in) {
    if (h.length > limits.PreLoginFrameMax) {
      metrics::Metrics().Refused(metrics::ConnectionRefusal::kPreLoginLimit).Add();
      throw EDSProtocolError(
          fmt::format("Before login a frame may hold at most {} bytes; this one holds {}",
                      limits.PreLoginFrameMax, h.length));
    }
    if ((h.flags & kFrameDeflated) != 0) {
      metrics::Metrics().Refused(metrics::ConnectionRefusal::kPreLoginLimit).Add();
      throw EDSProtocolError("Before login frames must be sent uncompressed");
    }
  }
  SetPhase(c, TPhase::Reading, deadline(h.length));

  in.clear();
  in_reserved = MemoryReservation();
  uint64_t got = 0;
  const size_t early =
      static_cast<size_t>(std::min<uint64_t>(ahead.Size() - kFrameHeaderSize, h.length));
  if (early > 0) {
    try {
      if (logged_in) in_reserved.Grow(early);
      in.assign(ahead.Data() + kFrameHeaderSize, early);
    } catch (const EMemoryBudgetExceeded& e) {
      refusal = e.what();
      TrimBuffer(in, 0);
      in_reserved = MemoryReservation();
    }
    got = early;
  }
  ahead.begin += kFrameHeaderSize + early;

  // The buffer grows with the bytes that arrive, each step reserved from the memory budget after
  // login (before it, frames are too small to matter). Over the budget, the rest of the frame is
  // read and thrown away so that the connection stays in step.
  char sink[4096];
  while (got < h.length) {
    const uint64_t left = h.length - got;
    if (refusal.empty()) {
      const size_t have = in.size();
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, std::max(have, kReadStep)));
      try {
        if (logged_in) in_reserved.Grow(chunk);
        in.resize(have + chunk);
        asio::read(stream, asio::buffer(in.data() + have, chunk), ec);
        if (ec) return TReadResult::Closed;
        got += chunk;
        continue;
      } catch (const EMemoryBudgetExceeded& e) {
        refusal = e.what();
        TrimBuffer(in, 0);
        in_reserved = MemoryReservation();
      }
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, sizeof sink));
    asio::read(stream, asio::buffer(sink, n), ec);
    if (ec) return TReadResult::Closed;
    got += n;
  }
  metrics::Metrics().bytes_received.Add(kFrameHeaderSize + h.length);
  if (!refusal.empty()) return TReadResult::Refused;
  try {
    message = codec.Unpack(h, in);
  } catch (const EMemoryBudgetExceeded& e) {
    refusal = e.what();
    return TReadResult::Refused;
  }
  return TReadResult::Message;
}

bool IsHello(std::string_view message) {
  return !message.empty() &&
         static_cast<uint8_t>(message[0]) == static_cast<uint8_t>(TDSMessageType::Hello);
}

}  // namespace

TDSTCPServerTransport::TDSTCPServerTransport() : impl_(std::make_unique<Impl>()) {}

TDSTCPServerTransport::~TDSTCPServerTransport() {
  Stop();
}

bool TDSTCPServerTransport::Active() const {
  std::lock_guard lock(impl_->mu);
  return impl_->active;
}

uint16_t TDSTCPServerTransport::BoundPort() const {
  std::lock_guard lock(impl_->mu);
  return impl_->bound_port;
}

size_t TDSTCPServerTransport::ConnectionCount() const {
  std::lock_guard lock(impl_->mu);
  return static_cast<size_t>(std::count_if(impl_->connections.begin(), impl_->connections.end(),
                                           [](const auto& c) { return !c->Finished; }));
}

size_t TDSTCPServerTransport::AbandonedThreads() const {
  std::lock_guard lock(impl_->mu);
  return impl_->abandoned;
}

void TDSTCPServerTransport::Start(const TDSSessionContext& context) {
  Impl& s = *impl_;
  std::lock_guard stop_lock(s.stop_mu);
  if (Active()) return;
  asio::error_code ec;
  asio::ip::address address = asio::ip::address_v4::any();
  if (!BindAddress.empty()) {
    address = asio::ip::make_address(BindAddress, ec);
    if (ec) throw EDSServerError(fmt::format("Invalid bind address {}", BindAddress));
  }
  const asio::ip::tcp::endpoint endpoint(address, Port);
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(s.io);
  acceptor->open(endpoint.protocol(), ec);
  if (!ec) acceptor->set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor->bind(endpoint, ec);
  if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) throw EDSServerError(fmt::format("Cannot listen on port {}: {}", Port, ec.message()));
  const uint16_t bound = acceptor->local_endpoint(ec).port();

  std::unique_ptr<asio::ssl::context> tls;
  if (Tls.Enabled()) {
    tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
    tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                     asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                     asio::ssl::context::no_tlsv1_1);
    if (SSL_CTX_set_cipher_list(tls->native_handle(), kTls12CipherList) != 1) {
      throw EDSServerError("Cannot set the TLS 1.2 cipher suites: this OpenSSL knows none of them");
    }
    tls->use_certificate_chain_file(Tls.CertificateFile, ec);
    if (!ec) tls->use_private_key_file(Tls.PrivateKeyFile, asio::ssl::context::pem, ec);
    if (ec) {
      throw EDSServerError(fmt::format("Cannot use the TLS certificate {} and key {}: {}",
                                       Tls.CertificateFile, Tls.PrivateKeyFile, ec.message()));
    }
  }
  s.tls = std::move(tls);
  s.context = context;
  s.limits = Limits();
  s.starter = ThreadStarter;
  s.throttle = std::make_unique<TLoginThrottle>(s.limits.RefusalsPerMinutePerAddress,
                                                s.limits.LoginDelayFirst, s.limits.LoginDelayMax);
  s.acceptor = std::move(acceptor);
  {
    std::lock_guard lock(s.mu);
    s.active = true;
    s.draining = false;
    s.bound_port = bound;
  }
  s.accept_thread = std::thread([this] { AcceptLoop(); });
  s.watch_thread = std::thread([this] { WatchLoop(); });
}

void TDSTCPServerTransport::Stop() {
  Impl& s = *impl_;
  std::lock_guard stop_lock(s.stop_mu);
  {
    std::lock_guard lock(s.mu);
    if (!s.active) return;
    s.active = false;
    s.draining = true;
    // Wakes the accept call blocked on the accept thread.
    ::shutdown(s.acceptor->native_handle(), SHUT_RDWR);
    // Connections not in a call are closed now; calls running may finish.
    for (auto& c : s.connections) {
      std::lock_guard cl(c->mu);
      if (!c->Finished && c->Phase != TPhase::InCall && c->Socket.is_open()) {
        ::shutdown(c->Socket.native_handle(), SHUT_RDWR);
      }
    }
  }
  s.changed.notify_all();
  s.accept_thread.join();
  s.watch_thread.join();
  s.acceptor.reset();

  const auto drain = std::min<Clock::duration>(s.limits.DrainTimeout, kMaxDrain);
  std::vector<std::stop_source> calls;
  {
    std::unique_lock lock(s.mu);
    s.changed.wait_for(lock, drain, [&] { return s.AllFinished(); });
    // The calls still running are answered now and their connections closed.
    for (auto& c : s.connections) {
      if (c->Finished) continue;
      std::lock_guard cl(c->mu);
      if (!c->Socket.is_open()) continue;
      const int fd = c->Socket.native_handle();
      if (c->Phase == TPhase::InCall && !c->AnsweredByStop) {
        c->AnsweredByStop = true;
        if (!s.tls)
          SendLastError(fd, "The server is stopping; the call was ended before it finished");
      }
      ::shutdown(fd, SHUT_RDWR);
      calls.push_back(c->CallStop);
    }
  }
  for (auto& call : calls) call.request_stop();

  std::list<std::unique_ptr<TIdTCPConnection>> connections;
  {
    std::unique_lock lock(s.mu);
    s.changed.wait_for(lock, kStopGrace, [&] { return s.AllFinished(); });
    connections.swap(s.connections);
    s.unauthenticated.clear();
    s.bound_port = 0;
  }
  // Waits without holding a lock, so an event handler that is still running can finish.
  size_t abandoned = 0;
  for (auto& c : connections) {
    bool finished;
    {
      std::lock_guard lock(s.mu);
      finished = c->Finished;
    }
    if (finished) {
      c->Thread.join();
    } else {
      // Its call has not returned: the thread is left running with its connection, which it
      // still uses, and the owner is told to end the process.
      c->Thread.detach();
      static_cast<void>(c.release());
      ++abandoned;
    }
  }
  std::lock_guard lock(s.mu);
  s.abandoned += abandoned;
  s.draining = false;
}

void TDSTCPServerTransport::AcceptLoop() {
  Impl& s = *impl_;
  const ServerLimits& limits = s.limits;
  for (;;) {
    auto conn = std::make_unique<TIdTCPConnection>(s.io);
    asio::error_code ec;
    s.acceptor->accept(conn->Socket, ec);
    std::list<std::unique_ptr<TIdTCPConnection>> finished;
    std::string refusal;
    {
      std::lock_guard lock(s.mu);
      if (!s.active) return;
      // Threads of connections that have ended are joined here, so none is kept.
      for (auto it = s.connections.begin(); it != s.connections.end();) {
        auto next = std::next(it);
        if ((*it)->Finished) finished.splice(finished.end(), s.connections, it);
        it = next;
      }
      asio::ip::tcp::endpoint peer;
      if (!ec) peer = conn->Socket.remote_endpoint(ec);
      if (!ec) {
        conn->Socket.set_option(asio::ip::tcp::no_delay(true), ec);
        const int buffer = static_cast<int>(BufferKBSize) * 1024;
        if (buffer > 0) {
          conn->Socket.set_option(asio::socket_base::receive_buffer_size(buffer), ec);
          conn->Socket.set_option(asio::socket_base::send_buffer_size(buffer), ec);
        }
        TDSChannelInfo& info = conn->Channel.ChannelInfo;
        info.Id = static_cast<int>(conn->Socket.native_handle());
        info.ClientInfo.IpAddress = peer.address().to_string();
        info.ClientInfo.ClientPort = std::to_string(peer.port());
        conn->Peer = info.ClientInfo.IpAddress + ":" + info.ClientInfo.ClientPort;
        conn->Address = info.ClientInfo.IpAddress;
        conn->AcceptedAt = Clock::now();
        const auto unauthenticated = s.unauthenticated.find(conn->Address);
        if (s.connections.size() >= limits.MaxConnections) {
          refusal =
              fmt::format("The server is serving its maximum of {} connections; try again later",
                          limits.MaxConnections);
          metrics::Metrics().Refused(metrics::ConnectionRefusal::kCap).Add();
        } else if (unauthenticated != s.unauthenticated.end() &&
                   unauthenticated->second >= limits.MaxUnauthenticatedPerAddress) {
          refusal = fmt::format(
              "Too many connections from {} have not logged in (at most {}); try again later",
              conn->Address, limits.MaxUnauthenticatedPerAddress);
          metrics::Metrics().Refused(metrics::ConnectionRefusal::kPerAddressCap).Add();
        } else {
          TIdTCPConnection* raw = conn.get();
          std::function<void()> body = [this, raw] { Serve(*raw); };
          try {
            raw->Thread = s.starter ? s.starter(std::move(body)) : std::thread(std::move(body));
          } catch (const std::system_error&) {
            // Out of threads: this connection is refused, the listener goes on.
            refusal = "The server cannot serve another connection now; try again later";
            metrics::Metrics().Refused(metrics::ConnectionRefusal::kThreads).Add();
          }
          if (refusal.empty()) {
            ++s.unauthenticated[conn->Address];
            s.connections.push_back(std::move(conn));
            metrics::Metrics().connections_accepted.Add();
          }
        }
      }
    }
    // A TLS client could not read a plain message: it is only closed.
    if (!refusal.empty() && !s.tls) SendLastError(conn->Socket.native_handle(), refusal);
    conn.reset();
    for (auto& c : finished) c->Thread.join();
    // A failed accept (out of descriptors, for one) is retried after a pause, not in a tight loop.
    if (ec) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void TDSTCPServerTransport::WatchLoop() {
  Impl& s = *impl_;
  std::vector<pollfd> fds;
  std::vector<std::stop_source> calls;
  std::list<std::unique_ptr<TIdTCPConnection>> ended;
  size_t ended_since_trim = 0;
  int quiet_ticks = 0;
  std::unique_lock lock(s.mu);
  for (;;) {
    s.changed.wait_for(lock, kWatchEvery, [&] { return !s.active; });
    if (!s.active) return;
    const Clock::time_point now = Clock::now();
    fds.clear();
    calls.clear();
    for (auto it = s.connections.begin(); it != s.connections.end();) {
      auto next = std::next(it);
      if ((*it)->Finished) ended.splice(ended.end(), s.connections, it);
      it = next;
    }
    for (auto& c : s.connections) {
      if (c->Finished || !c->Socket.is_open()) continue;
      std::lock_guard cl(c->mu);
      const int fd = c->Socket.native_handle();
      if (c->Phase == TPhase::InCall) {
        fds.push_back(pollfd{fd, POLLRDHUP, 0});
        calls.push_back(c->CallStop);
      } else if (now >= c->Deadline) {
        ::shutdown(fd, SHUT_RDWR);  // the blocked read or write returns and the thread ends
        c->Deadline = kNever;
        metrics::Metrics().Refused(metrics::ConnectionRefusal::kDeadline).Add();
      }
    }
    // A client that hung up during its call: the call is asked to stop.
    if (!fds.empty() && ::poll(fds.data(), fds.size(), 0) > 0) {
      lock.unlock();
      for (size_t i = 0; i < fds.size(); ++i) {
        if ((fds[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) calls[i].request_stop();
      }
      lock.lock();
    }
    // Threads of connections that have ended are joined here too, not only at the next accept,
    // so that their stacks go when they end (after a round of 1,000 connections, 1,002 stacks
    // stayed mapped, 16 MB resident, until the next client came). With a thread per connection,
    // what a burst of connections freed is spread over the allocator's arenas and stays resident
    // unless it is handed back.
    if (!ended.empty()) {
      lock.unlock();
      ended_since_trim += ended.size();
      quiet_ticks = 0;
      for (auto& c : ended) c->Thread.join();
      ended.clear();
      lock.lock();
    } else if (ended_since_trim >= kTrimAfterEnded && ++quiet_ticks >= kQuietTicksBeforeTrim) {
      lock.unlock();
      ReturnFreeMemoryToSystem();
      ended_since_trim = 0;
      quiet_ticks = 0;
      lock.lock();
    }
  }
}

void TDSTCPServerTransport::Serve(TIdTCPConnection& conn) {
  Impl& s = *impl_;
  metrics::Metrics().connections_open.Add();
  if (Active() && OnConnect) {
    try {
      OnConnect(TDSTCPConnectEventObject{&conn, &conn.Channel});
    } catch (...) {
    }
  }
  TDSSession session(s.context, conn.Peer);
  try {
    if (s.tls) {
      asio::ssl::stream<asio::ip::tcp::socket&> tls(conn.Socket, *s.tls);
      SetPhase(conn, TPhase::Reading, conn.AcceptedAt + s.limits.HelloTimeout);
      asio::error_code ec;
      tls.handshake(asio::ssl::stream_base::server, ec);
      if (!ec) ServeMessages(tls, conn, session);
    } else {
      ServeMessages(conn.Socket, conn, session);
    }
  } catch (...) {
    // Out of memory or a socket failure: the connection is dropped; others go on.
  }
  if (Active() && OnDisconnect) {
    try {
      OnDisconnect(TDSTCPDisconnectEventObject{&conn});
    } catch (...) {
    }
  }
  session.End();
  {
    std::lock_guard lock(s.mu);
    s.CountLoggedIn(conn);  // a connection that ends no longer counts as waiting for its login
    asio::error_code ec;
    conn.Socket.close(ec);
    conn.Finished = true;
  }
  metrics::Metrics().connections_open.Sub();
  s.changed.notify_all();
}

template <class Stream>
void TDSTCPServerTransport::ServeMessages(Stream& stream, TIdTCPConnection& conn,
                                          TDSSession& session) {
  Impl& s = *impl_;
  const ServerLimits& limits = s.limits;
  TDSFrameCodec codec(CompressMoreThan, MaxFrameSize);
  const TCallerFrameSizeScope caller_frame_size(MaxFrameSize);
  std::string in, out, refusal;
  const auto ahead = std::make_unique<TReadAhead>();
  MemoryReservation in_reserved;
  for (;;) {
    // One call's memory, from its frame to its reply sent: the reply's buffers are kept until then.
    CallMemoryScope call_memory;
    std::string_view message;
    refusal.clear();
    TReadResult read;
    try {
      read = ReadClientFrame(stream, conn, limits, session.LoggedIn(), codec, in, *ahead,
                             in_reserved, message, refusal);
    } catch (const EDSProtocolError& e) {
      FailConnection(stream, conn, limits, codec, out, e.what());
      return;
    }
    if (read == TReadResult::Closed) return;
    std::stop_token stop;
    {
      std::lock_guard lock(conn.mu);
      if (s.draining) return;  // a message that arrives during a stop is not started
      conn.Phase = TPhase::InCall;
      conn.Deadline = kNever;
      conn.CallStop = std::stop_source();
      stop = conn.CallStop.get_token();
    }
    TDSFrameCodec::Begin(out);
    if (read == TReadResult::Refused) {
      EncodeError(refusal, out);
    } else {
      if (IsHello(message) && !session.LoggedIn()) {
        // A throttled address waits before its login is checked; a stop ends the wait.
        const std::chrono::seconds delay = s.throttle->Delay(conn.Address);
        if (delay.count() > 0) {
          std::unique_lock lock(s.mu);
          s.changed.wait_for(lock, delay, [&] { return s.draining.load(); });
        }
      }
      CallStopScope scope(stop);
      session.Handle(message, out);
      if (session.LastHello() == THelloOutcome::Accepted) {
        metrics::Metrics().logins_accepted.Add();
        std::lock_guard lock(s.mu);
        s.CountLoggedIn(conn);
      } else if (session.LastHello() == THelloOutcome::Refused) {
        metrics::Metrics().logins_refused.Add();
        s.throttle->Refused(conn.Address);
      } else if (session.LastHello() == THelloOutcome::Rejected) {
        metrics::Metrics().logins_refused.Add();
      }
    }
    in_reserved = MemoryReservation();
    codec.Trim();
    try {
      codec.Seal(out, !session.ReplyIsPacket());
    } catch (const EDSProtocolError& e) {  // the reply is larger than a frame may be
      TDSFrameCodec::Begin(out);
      EncodeError(e.what(), out);
      codec.Seal(out);
    }
    {
      std::lock_guard lock(conn.mu);
      if (conn.AnsweredByStop) return;
      conn.Phase = TPhase::Writing;
      conn.Deadline = Clock::now() + FrameAllowance(limits, out.size());
    }
    if (!WriteFrame(stream, out)) return;
    metrics::Metrics().bytes_sent.Add(out.size());
    TrimBuffer(in, kKeepInput);
    TrimBuffer(out, kTrimAbove);
    if (session.Refusals() >= limits.RefusalsPerConnection) return;
    if (s.draining) return;  // the call's reply is sent; the connection closes
  }
}

}  // namespace velmora
