// TServiceController: the service as the operator drives it, shared by the window and the
// headless program. It starts and stops the server, checks logins against the current account
// and password, keeps the connection map and the online-user table, and produces the log lines.
//
// Threads: Start, Stop, the table and the signals belong to the thread the controller lives on
// (the UI thread). The transport's handlers run on connection threads; they take the map lock or
// the credentials lock for one short step each and hand every change of the table, the count and
// the log to the controller's thread as queued calls, in order, never waiting for that thread.
// So Stop, which waits for the connection threads to end, cannot deadlock with them.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "common/service_defaults.h"
#include "data/mem_table.h"
#include "rpc/auth_manager.h"
#include "rpc/ds_server.h"
#include "rpc/tcp_transport.h"

namespace velmora {

inline constexpr int kClientFieldSize = 20;
// The log line of every stop of the service.
inline constexpr char kServiceStoppedText[] = "服务关闭完成";

class TServiceController : public QObject {
  Q_OBJECT

 public:
  // Installs the login, authorisation, connect and disconnect handlers on the given parts.
  TServiceController(TDSServer& server, TDSTCPServerTransport& transport,
                     TDSAuthenticationManager& auth, QObject* parent = nullptr);
  // Stops the server and removes the handlers.
  ~TServiceController() override;
  TServiceController(const TServiceController&) = delete;
  TServiceController& operator=(const TServiceController&) = delete;

  // The port a port field's text means: a decimal integer, or kDefaultServicePort when it is
  // not one.
  static int PortFromText(const QString& text);

  // The account and password logins are compared with; any thread.
  void SetCredentials(const QString& user, const QString& password);

  // Reads the section "Limits" of the settings file at `config_path` and puts its limits in
  // force (SetServerLimits, and the connection pool's wait when the pools exist); each value
  // refused or clamped is logged. Call while the service is
  // stopped, before it first starts.
  void ApplyLimits(const std::string& config_path);

  // Sets the transport's port from the text, removes the temporaries of writes cut short below
  // AppPath(), names the server's own files to the file methods (server_own_files.h) and starts
  // the server; logs the start and the port. Raises EDSServerError when the server cannot start
  // or the number is outside 1 to 65535; nothing is logged then.
  void Start(const QString& port_text);
  // Stops the server (nothing when stopped), logs the stop, empties the map and the table and
  // trims the query, stored-procedure and connection pools by one idle object each.
  void Stop();
  bool Started() const;
  // The port the last start listened on (the configured one before any start).
  int Port() const { return transport_.Port; }
  // Stops the server only, without the stop operation's other steps (the window's teardown).
  void StopServer() { server_.Stop(); }
  // Connection threads the last stop left running inside a call; the process must then end
  // without destroying the server (std::_Exit).
  size_t AbandonedThreads() const { return transport_.AbandonedThreads(); }

  // "yyyy-mm-dd hh:mm:ss>>>text", the text escaped (common/log_text.h: it stays one line whatever
  // a client put in it); from any thread. The line reaches LogLine on the controller's
  // thread, in the order of the calls of each thread.
  void AddLog(const QString& text);
  static QString LogLineFor(const QString& text);

  // The online-user table tbClient: ID, IP, LoginTime. Controller's thread only.
  TFDMemTable& Clients() { return tbClient_; }
  int UserCount() const { return tbClient_.RecordCount(); }
  size_t ConnectionCount() const;

 Q_SIGNALS:
  void LogLine(const QString& line);
  void ClientsChanged();
  void UserCountChanged(int count);
  void StateChanged(bool running);

 private:
  // `address` is the client's "address:port", named in the log when the login is refused.
  void UserAuthenticate(const std::string& address, const std::string& user,
                        const std::string& password, bool& valid, std::vector<std::string>& roles);
  void TransportConnect(const TDSTCPConnectEventObject& event);
  void TransportDisconnect(const TDSTCPDisconnectEventObject& event);
  // Runs `fn` on the controller's thread: at once when called there, else queued.
  template <class F>
  void OnOwnerThread(F&& fn);
  void AppendClient(const std::string& id, const std::string& ip, double login_time);
  void DeleteClient(const std::string& id);
  void EmitCount();

  TDSServer& server_;
  TDSTCPServerTransport& transport_;
  TDSAuthenticationManager& auth_;

  std::mutex credentials_mu_;
  std::string user_;
  std::string password_;

  mutable std::mutex connections_mu_;
  std::map<TIdTCPConnection*, TDSTCPChannel*> FConnections;

  // Raised by each stop: queued row changes from before the stop are dropped.
  std::atomic<unsigned> generation_{0};
  TFDMemTable tbClient_;
};

}  // namespace velmora
