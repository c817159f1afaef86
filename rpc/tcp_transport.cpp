#include "rpc/tcp_transport.h"

#include <fmt/format.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <sys/socket.h>
#endif

#include "rpc/frame_io.h"
#include "rpc/messages.h"
#include "rpc/rpc_errors.h"

namespace velmora {

class TIdTCPConnection {
 public:
  explicit TIdTCPConnection(asio::io_context& io) : Socket(io) {}
  asio::ip::tcp::socket Socket;
  TDSTCPChannel Channel;
  std::string Peer;  // "address:port"
  std::thread Thread;
  std::atomic<bool> Finished{false};
};

struct TDSTCPServerTransport::Impl {
  asio::io_context io;
  std::unique_ptr<asio::ip::tcp::acceptor> acceptor;
  std::thread accept_thread;
  std::mutex stop_mu;  // serialises Start and Stop; never taken by a connection thread

  mutable std::mutex mu;  // guards what follows
  bool active = false;
  uint16_t bound_port = 0;
  std::list<std::unique_ptr<TIdTCPConnection>> connections;

  TDSSessionContext context;
};

namespace {

constexpr size_t kTrimAbove = 4u << 20;

void TrimBuffer(std::string& s) {
  if (s.capacity() > kTrimAbove) std::string().swap(s);
}

// Sends a last error message, then closes our side and discards what the client still sends,
// so the message is not lost to a connection reset.
void FailConnection(asio::ip::tcp::socket& socket, TDSFrameCodec& codec, std::string& out,
                    std::string_view text) {
  TDSFrameCodec::Begin(out);
  EncodeError(text, out);
  codec.Seal(out);
  if (!WriteFrame(socket, out)) return;
  asio::error_code ec;
  socket.shutdown(asio::socket_base::shutdown_send, ec);
  char sink[4096];
  size_t drained = 0;
  while (drained < (64u << 10)) {
    const size_t n = socket.read_some(asio::buffer(sink), ec);
    if (ec) break;
    drained += n;
  }
}

}  // namespace

TDSTCPServerTransport::TDSTCPServerTransport() : impl_(std::make_unique<Impl>()) {}

TDSTCPServerTransport::~TDSTCPServerTransport() { Stop(); }

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
  size_t n = 0;
  for (const auto& c : impl_->connections) n += c->Finished ? 0 : 1;
  return n;
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

  s.context = context;
  s.acceptor = std::move(acceptor);
  {
    std::lock_guard lock(s.mu);
    s.active = true;
    s.bound_port = bound;
  }
  s.accept_thread = std::thread([this] { AcceptLoop(); });
}

void TDSTCPServerTransport::Stop() {
  Impl& s = *impl_;
  std::lock_guard stop_lock(s.stop_mu);
  {
    std::lock_guard lock(s.mu);
    if (!s.active) return;
    s.active = false;
    asio::error_code ec;
#ifdef _WIN32
    s.acceptor->close(ec);
#else
    // Wakes the accept call blocked on the accept thread.
    ::shutdown(s.acceptor->native_handle(), SHUT_RDWR);
#endif
  }
  s.accept_thread.join();
  s.acceptor.reset();

  std::list<std::unique_ptr<TIdTCPConnection>> connections;
  {
    std::lock_guard lock(s.mu);
    for (auto& c : s.connections) {
      asio::error_code ec;
      if (c->Socket.is_open()) c->Socket.shutdown(asio::socket_base::shutdown_both, ec);
    }
    connections.swap(s.connections);
    s.bound_port = 0;
  }
  // Waits without holding a lock, so an event handler that is still running can finish.
  for (auto& c : connections) c->Thread.join();
}

void TDSTCPServerTransport::AcceptLoop() {
  Impl& s = *impl_;
  for (;;) {
    auto conn = std::make_unique<TIdTCPConnection>(s.io);
    asio::error_code ec;
    s.acceptor->accept(conn->Socket, ec);
    std::list<std::unique_ptr<TIdTCPConnection>> finished;
    {
      std::lock_guard lock(s.mu);
      if (!s.active) return;
      // Threads of connections that have ended are joined here, so none is kept.
      for (auto it = s.connections.begin(); it != s.connections.end();) {
        auto next = std::next(it);
        if ((*it)->Finished) finished.splice(finished.end(), s.connections, it);
        it = next;
      }
      if (!ec) {
        const auto peer = conn->Socket.remote_endpoint(ec);
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
          TIdTCPConnection* raw = conn.get();
          raw->Thread = std::thread([this, raw] { Serve(*raw); });
          s.connections.push_back(std::move(conn));
        }
      }
    }
    for (auto& c : finished) c->Thread.join();
    // A failed accept (out of descriptors, for one) is retried after a pause, not in a tight loop.
    if (ec) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void TDSTCPServerTransport::Serve(TIdTCPConnection& conn) {
  Impl& s = *impl_;
  if (Active() && OnConnect) {
    try {
      OnConnect(TDSTCPConnectEventObject{&conn, &conn.Channel});
    } catch (...) {
    }
  }
  TDSSession session(s.context, conn.Peer);
  try {
    TDSFrameCodec codec(CompressMoreThan, MaxFrameSize);
    std::string in, out;
    for (;;) {
      std::string_view message;
      try {
        if (!ReadFrame(conn.Socket, codec, in, message)) break;
      } catch (const EDSProtocolError& e) {
        FailConnection(conn.Socket, codec, out, e.what());
        break;
      }
      TDSFrameCodec::Begin(out);
      session.Handle(message, out);
      try {
        codec.Seal(out);
      } catch (const EDSProtocolError& e) {  // the reply is larger than a frame may be
        TDSFrameCodec::Begin(out);
        EncodeError(e.what(), out);
        codec.Seal(out);
      }
      if (!WriteFrame(conn.Socket, out)) break;
      codec.Trim();
      TrimBuffer(in);
      TrimBuffer(out);
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
    asio::error_code ec;
    conn.Socket.close(ec);
  }
  conn.Finished = true;
}

}  // namespace velmora
