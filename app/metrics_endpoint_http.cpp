#include "app/metrics_endpoint_http.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <atomic>
#include <list>
#include <system_error>
#include <thread>
#include <utility>

namespace velmora {

namespace {

using asio::ip::tcp;

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 503:
      return "Service Unavailable";
    default:
      return "Internal Server Error";
  }
}

std::string ResponseBytes(const HttpResponse& r, bool with_body) {
  std::string out = fmt::format(
      "HTTP/1.1 {} {}\r\nContent-Type: {}\r\nContent-Length: {}\r\n"
      "Cache-Control: no-store\r\nConnection: close\r\n{}\r\n",
      r.status, Reason(r.status), r.content_type, r.body.size(),
      r.status == 405 ? "Allow: GET, HEAD\r\n" : "");
  if (with_body) out += r.body;
  return out;
}

HttpResponse PlainText(int status, std::string text) {
  return {status, "text/plain; charset=utf-8", std::move(text)};
}

// The end of the request head (the empty line after it), or npos while it is incomplete.
size_t HeadEnd(std::string_view bytes) {
  const size_t crlf = bytes.find("\r\n\r\n");
  const size_t lf = bytes.find("\n\n");
  return std::min(crlf, lf);
}

}  // namespace

class TMetricsHttpListener::Impl {
 public:
  Impl(const std::string& address, int port, Responder respond, HttpListenerLimits limits)
      : respond_(std::move(respond)),
        limits_(limits),
        acceptor_(io_),
        workers_(static_cast<size_t>(limits.worker_threads)),
        retry_accept_(io_),
        keep_running_(io_.get_executor()) {
    const tcp::endpoint where(asio::ip::make_address(address), static_cast<uint16_t>(port));
    acceptor_.open(where.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(where);
    acceptor_.listen();
    Accept();
    network_ = std::thread([this] { io_.run(); });
  }

  // Every connection is closed and every handler has run before the members go: the network
  // thread ends once nothing is left to do.
  ~Impl() {
    asio::post(io_, [this] {
      asio::error_code ignored;
      acceptor_.close(ignored);
      retry_accept_.cancel();
      for (Connection* c : std::list<Connection*>(connections_)) c->Close();
    });
    // Answers under way finish first: they use the responder, which the owner destroys next.
    workers_.join();
    keep_running_.reset();
    network_.join();
  }

 private:
  class Connection;
  friend class Connection;

  void Accept() {
    acceptor_.async_accept([this](asio::error_code error, tcp::socket socket) {
      if (error == asio::error::operation_aborted || !acceptor_.is_open()) return;
      if (error) {
        // Out of descriptors (or a connection reset before it was taken): try again shortly
        // instead of giving up listening.
        retry_accept_.expires_after(std::chrono::milliseconds(100));
        retry_accept_.async_wait([this](asio::error_code e) {
          if (!e) Accept();
        });
        return;
      }
      if (connections_.size() >= limits_.max_connections) {
        const auto oldest_reading = std::find_if(connections_.begin(), connections_.end(),
                                                 [](const Connection* c) { return c->Reading(); });
        if (oldest_reading == connections_.end()) {
          asio::error_code ignored;
          socket.close(ignored);  // every connection is being answered: this one must try again
          Accept();
          return;
        }
        (*oldest_reading)->Close();  // the oldest still sending its head makes room
      }
      std::make_shared<Connection>(*this, std::move(socket))->Start();
      Accept();
    });
  }

  class Connection : public std::enable_shared_from_this<Connection> {
   public:
    Connection(Impl& owner, tcp::socket socket)
        : owner_(owner), socket_(std::move(socket)), deadline_(owner.io_) {
      listed_ = owner_.connections_.insert(owner_.connections_.end(), this);
    }
    ~Connection() { Unlist(); }

    bool Reading() const { return reading_; }

    void Start() {
      auto self = shared_from_this();
      deadline_.expires_after(owner_.limits_.head_timeout);
      deadline_.async_wait([self](asio::error_code e) {
        if (!e) self->Close();
      });
      Read();
    }

    void Close() {
      Unlist();
      asio::error_code ignored;
      socket_.close(ignored);
      deadline_.cancel();
    }

   private:
    void Unlist() {
      if (listed_ == owner_.connections_.end()) return;
      owner_.connections_.erase(listed_);
      listed_ = owner_.connections_.end();
    }

    void Read() {
      auto self = shared_from_this();
      socket_.async_read_some(asio::buffer(buffer_), [self](asio::error_code e, size_t n) {
        if (e) return self->Close();
        self->head_.append(self->buffer_.data(), n);
        const size_t end = HeadEnd(self->head_);
        if (end != std::string::npos) return self->Answer();
        if (self->head_.size() >= self->owner_.limits_.max_head_bytes) return self->Close();
        self->Read();
      });
    }

    // The request line: METHOD SP TARGET SP HTTP/x.y; the other header lines are not needed.
    void Answer() {
      reading_ = false;
      const std::string_view head(head_);
      const std::string_view line = head.substr(0, head.find_first_of("\r\n"));
      const size_t sp1 = line.find(' ');
      const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
      if (sp2 == std::string_view::npos || !line.substr(sp2 + 1).starts_with("HTTP/1."))
        return Write(PlainText(400, "Bad Request\n"), true);
      const std::string_view method = line.substr(0, sp1);
      const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
      const bool head_only = method == "HEAD";
      if (method != "GET" && !head_only) return Write(PlainText(405, "Method Not Allowed\n"), true);
      const std::string path(target.substr(0, target.find('?')));
      deadline_.cancel();  // the responder is bounded by itself; the head's time is over
      // The connection is handed on, never copied: its last owner, and so its destructor, stays
      // on the network thread.
      asio::post(owner_.workers_, [self = shared_from_this(), path, head_only]() mutable {
        HttpResponse response;
        try {
          response = self->owner_.respond_(path);
        } catch (const std::exception& e) {
          response = PlainText(500, std::string(e.what()) + "\n");
        }
        Impl& owner = self->owner_;
        asio::post(owner.io_, [self = std::move(self), response = std::move(response), head_only] {
          self->Write(response, !head_only);
        });
      });
    }

    void Write(const HttpResponse& response, bool with_body) {
      out_ = ResponseBytes(response, with_body);
      auto self = shared_from_this();
      deadline_.expires_after(owner_.limits_.write_timeout);
      deadline_.async_wait([self](asio::error_code e) {
        if (!e) self->Close();
      });
      asio::async_write(socket_, asio::buffer(out_), [self](asio::error_code e, size_t) {
        if (!e) {
          asio::error_code ignored;
          self->socket_.shutdown(tcp::socket::shutdown_send, ignored);
        }
        self->Close();
      });
    }

    Impl& owner_;
    tcp::socket socket_;
    asio::steady_timer deadline_;
    std::array<char, 1024> buffer_{};
    std::string head_;
    std::string out_;
    std::list<Connection*>::iterator listed_;
    bool reading_ = true;  // the head is not complete yet
  };

  Responder respond_;
  const HttpListenerLimits limits_;
  asio::io_context io_;
  tcp::acceptor acceptor_;
  asio::thread_pool workers_;
  asio::steady_timer retry_accept_;
  asio::executor_work_guard<asio::io_context::executor_type> keep_running_;
  std::list<Connection*> connections_;  // open, oldest first; the network thread's only
  std::thread network_;
};

TMetricsHttpListener::TMetricsHttpListener(const std::string& address, int port, Responder respond,
                                           HttpListenerLimits limits)
    : impl_(std::make_unique<Impl>(address, port, std::move(respond), limits)) {}

TMetricsHttpListener::~TMetricsHttpListener() = default;

}  // namespace velmora
