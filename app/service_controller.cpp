#include "app/service_controller.h"

#include <QDateTime>
#include <QMetaObject>
#include <QThread>
#include <chrono>
#include <string>
#include <utility>

#include "app/config/ini_file.h"
#include "app/config/limits_config.h"
#include "app/config/server_config.h"
#include "app/server_own_files.h"
#include "common/app_path.h"
#include "common/log_sink.h"
#include "common/log_text.h"
#include "common/server_limits.h"
#include "dbpool/database_pools.h"
#include "rpc/rpc_errors.h"
#include "services/files/file_transfer.h"
#include "services/files/server_own_files.h"
#include "variant/ole_date.h"

namespace velmora {

namespace {

constexpr const char* kRefusedLogin = "有陌生用户登录，请管理员注意！";

std::string Cut(std::string text) {
  if (text.size() > static_cast<size_t>(kClientFieldSize)) text.resize(kClientFieldSize);
  return text;
}

// The user name a client tried, fit for one log line: escaped (common/log_text.h), and cut after
// 64 characters.
QString PrintableUser(const std::string& user) {
  const std::string escaped = EscapeForLog(user);
  QString text = QString::fromUtf8(escaped.data(), static_cast<qsizetype>(escaped.size()));
  if (text.size() > 64) text = text.left(64) + QStringLiteral("…");
  return text;
}

// TLS from CONFIG.CFG's section "TLS": CertificateFile and PrivateKeyFile, PEM files, relative
// to the application folder unless absolute. Without a certificate TLS is off.
TDSTlsServerSettings TlsFromConfig() {
  const std::string folder = AppPath();
  const std::string path = folder + std::string(kConfigFileName);
  const auto file = [&](std::string_view key) {
    std::string name = GetPrivateProfileString("TLS", key, "", path);
    if (!name.empty() && name.front() != '/') name = folder + name;
    return name;
  };
  TDSTlsServerSettings tls;
  tls.CertificateFile = file("CertificateFile");
  tls.PrivateKeyFile = file("PrivateKeyFile");
  if (tls.PrivateKeyFile.empty()) tls.PrivateKeyFile = tls.CertificateFile;
  return tls;
}

// Each releases one idle object; a pool that does not exist has nothing to release.
void TrimDatabasePools() {
  if (auto* pool = FDQueryPool()) pool->FreeAndNil();
  if (auto* pool = FDStoredProcPool()) pool->FreeAndNil();
  if (auto* pool = FDConnectionPool()) pool->FreeAndNil();
}

}  // namespace

TServiceController::TServiceController(TDSServer& server, TDSTCPServerTransport& transport,
                                       TDSAuthenticationManager& auth, QObject* parent)
    : QObject(parent), server_(server), transport_(transport), auth_(auth) {
  tbClient_.FieldDefs().Add("ID", ftString, kClientFieldSize);
  tbClient_.FieldDefs().Add("IP", ftString, kClientFieldSize);
  tbClient_.FieldDefs().Add("LoginTime", ftDateTime);
  tbClient_.CreateDataSet();

  auth_.OnUserAuthenticate = [this](TDSAuthenticationManager&, const std::string&,
                                    const std::string& context, const std::string& user,
                                    const std::string& password, bool& valid,
                                    std::vector<std::string>& roles) {
    UserAuthenticate(context, user, password, valid, roles);
  };
  auth_.OnUserAuthorize = [](TDSAuthenticationManager&, const TDSAuthorizeEventObject&,
                             bool& valid) { valid = true; };
  transport_.AuthenticationManager = &auth_;
  transport_.OnConnect = [this](const TDSTCPConnectEventObject& e) { TransportConnect(e); };
  transport_.OnDisconnect = [this](const TDSTCPDisconnectEventObject& e) {
    TransportDisconnect(e);
  };
  // The layers below the shell (the database methods) log through the process-wide sink.
  SetLogSink([this](std::string_view text) {
    AddLog(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  });
}

TServiceController::~TServiceController() {
  server_.Stop();
  SetLogSink(nullptr);
  transport_.OnConnect = nullptr;
  transport_.OnDisconnect = nullptr;
  auth_.OnUserAuthenticate = nullptr;
  auth_.OnUserAuthorize = nullptr;
}

int TServiceController::PortFromText(const QString& text) {
  bool ok = false;
  const int port = text.toInt(&ok, 10);
  return ok ? port : kDefaultServicePort;
}

void TServiceController::SetCredentials(const QString& user, const QString& password) {
  std::string u = user.toStdString();
  std::string p = password.toStdString();
  std::lock_guard lock(credentials_mu_);
  user_ = std::move(u);
  password_ = std::move(p);
}

void TServiceController::Start(const QString& port_text) {
  const int port = PortFromText(port_text);
  // A number that is no TCP port fails the start like a port in use, instead of wrapping.
  if (port < 1 || port > 65535) {
    throw EDSServerError("Invalid port number: " + std::to_string(port));
  }
  transport_.Port = static_cast<uint16_t>(port);
  // No call runs while the service is stopped, so whatever temporary is left was left by a write
  // that a crash or kill cut short.
  RemoveLeftoverTemporaries(AppPath());
  transport_.Tls = TlsFromConfig();
  // Named before any client is served, from the settings this start uses.
  SetServerOwnFiles(ServerOwnFilePaths(AppPath(), transport_.Tls));
  server_.Start();
  AddLog(QStringLiteral("服务启动完成"));
  AddLog(QStringLiteral("端口：") + QString::number(port));
  Q_EMIT StateChanged(true);
}

void TServiceController::ApplyLimits(const std::string& config_path) {
  const LoadedLimits loaded = LoadLimits(config_path);
  SetServerLimits(loaded.limits);
  // A call waits this long for a database connection; the pool outlives the service's starts.
  if (TFDConnectionPool* pool = FDConnectionPool(); pool != nullptr) {
    pool->SetWaitTimeout(static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(loaded.limits.PoolWaitTimeout)
            .count()));
  }
  for (const std::string& note : loaded.notes) AddLog(QString::fromStdString(note));
}

void TServiceController::Stop() {
  server_.Stop();  // returns when every connection thread has ended
  ++generation_;
  AddLog(QString::fromUtf8(kServiceStoppedText));
  {
    std::lock_guard lock(connections_mu_);
    FConnections.clear();
  }
  tbClient_.EmptyDataSet();
  Q_EMIT ClientsChanged();
  EmitCount();
  TrimDatabasePools();
  Q_EMIT StateChanged(false);
}

bool TServiceController::Started() const {
  return server_.Started();
}

size_t TServiceController::ConnectionCount() const {
  std::lock_guard lock(connections_mu_);
  return FConnections.size();
}

QString TServiceController::LogLineFor(const QString& text) {
  return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
         QStringLiteral(">>>") + text;
}

template <class F>
void TServiceController::OnOwnerThread(F&& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
  } else {
    QMetaObject::invokeMethod(this, std::forward<F>(fn), Qt::QueuedConnection);
  }
}

void TServiceController::AddLog(const QString& text) {
  // Every line, whatever layer made it, may carry a text a client chose (a file name, an engine's
  // message quoting a statement): it is escaped here, where every log view and the journal take
  // their lines from, so that it can neither start a line of its own nor reorder one.
  const QByteArray bytes = text.toUtf8();
  const std::string escaped =
      EscapeForLog(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  QString line =
      LogLineFor(QString::fromUtf8(escaped.data(), static_cast<qsizetype>(escaped.size())));
  OnOwnerThread([this, line = std::move(line)] { Q_EMIT LogLine(line); });
}

void TServiceController::UserAuthenticate(const std::string& address, const std::string& user,
                                          const std::string& password, bool& valid,
                                          std::vector<std::string>& roles) {
  {
    std::lock_guard lock(credentials_mu_);
    valid = user == user_ && password == password_;
  }
  if (valid) {
    roles.emplace_back("admins");
  } else {
    AddLog(QString::fromUtf8(kRefusedLogin));
    // The operator's own line names the address and the user tried.
    AddLog(QStringLiteral("拒绝登录：地址 ") + QString::fromStdString(address) +
           QStringLiteral("，用户 ") + PrintableUser(user));
  }
}

void TServiceController::TransportConnect(const TDSTCPConnectEventObject& event) {
  const TDSChannelInfo info = event.Channel->ChannelInfo;
  const unsigned generation = generation_.load();
  {
    std::lock_guard lock(connections_mu_);
    FConnections[event.Connection] = event.Channel;
  }
  const std::string address = info.ClientInfo.IpAddress + ":" + info.ClientInfo.ClientPort;
  AddLog(QString::fromStdString(address) + QStringLiteral("登录服务器"));
  const double now = NowAsDateTime();
  OnOwnerThread([this, generation, id = std::to_string(info.Id), address, now] {
    if (generation != generation_.load()) return;  // a stop has emptied the table since
    AppendClient(id, address, now);
  });
}

void TServiceController::TransportDisconnect(const TDSTCPDisconnectEventObject& event) {
  const unsigned generation = generation_.load();
  TDSChannelInfo info;
  {
    std::lock_guard lock(connections_mu_);
    auto it = FConnections.find(event.Connection);
    if (it == FConnections.end()) return;
    info = it->second->ChannelInfo;
    FConnections.erase(it);
  }
  OnOwnerThread([this, generation, id = std::to_string(info.Id)] {
    if (generation != generation_.load()) return;
    DeleteClient(id);
  });
  AddLog(QString::fromStdString(info.ClientInfo.IpAddress + ":" + info.ClientInfo.ClientPort) +
         QStringLiteral("离开服务器"));
  TrimDatabasePools();
  OnOwnerThread([this] { EmitCount(); });
}

void TServiceController::AppendClient(const std::string& id, const std::string& ip,
                                      double login_time) {
  tbClient_.Append();
  tbClient_.FieldByName("ID").SetValue(OleVariant(Cut(id)));
  tbClient_.FieldByName("IP").SetValue(OleVariant(Cut(ip)));
  tbClient_.FieldByName("LoginTime").SetValue(OleVariant::Date(login_time));
  tbClient_.Post();
  Q_EMIT ClientsChanged();
  EmitCount();
}

void TServiceController::DeleteClient(const std::string& id) {
  if (tbClient_.Locate("ID", OleVariant(Cut(id)))) {
    tbClient_.Delete();
    Q_EMIT ClientsChanged();
  }
}

void TServiceController::EmitCount() {
  Q_EMIT UserCountChanged(UserCount());
}

}  // namespace velmora
