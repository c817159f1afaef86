#include "db/core/connection.h"

#include <algorithm>

#include "db/core/db_error.h"

namespace velmora {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

TFDConnection::~TFDConnection() {
  Close();
}

std::string TFDConnection::ConnectionString() const {
  std::string out;
  for (const std::string& line : params_.Lines()) {
    if (!out.empty()) out += ';';
    const bool quote = line.find(';') != std::string::npos;
    if (quote) {
      const size_t eq = line.find('=');
      out += line.substr(0, eq + 1);
      out += '"';
      out += line.substr(eq + 1);
      out += '"';
    } else {
      out += line;
    }
  }
  return out;
}

void TFDConnection::SetConnectionString(std::string_view text) {
  const std::string driver_id = DriverName();
  params_.Clear();
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    bool quoted = false;
    std::string pair;
    for (; j < text.size(); ++j) {
      const char c = text[j];
      if (c == '"') {
        quoted = !quoted;
        continue;
      }
      if (c == ';' && !quoted) break;
      pair += c;
    }
    const std::string_view trimmed = TrimBlanks(pair);
    const size_t eq = trimmed.find('=');
    if (eq != std::string_view::npos && eq > 0) {
      params_.SetValue(TrimBlanks(trimmed.substr(0, eq)), TrimBlanks(trimmed.substr(eq + 1)));
    }
    i = j + 1;
  }
  if (params_.IndexOfName("DriverID") < 0 && !driver_id.empty()) SetDriverName(driver_id);
}

void TFDConnection::Open() {
  if (driver_ != nullptr) return;
  driver_ = OpenDriverConnection(params_);
  driver_->SetStatementStop(&stop_);
  broken_.clear();
}

std::string TFDConnection::UnusableReason(bool look) {
  if (!broken_.empty()) return broken_;
  if (driver_ == nullptr) return "Connection is not active";
  return driver_->UnusableReason(look);
}

void TFDConnection::Close() {
  DetachAll();
  if (driver_ == nullptr) return;
  if (driver_->InTransaction()) {
    try {
      driver_->Rollback();
    } catch (const std::exception&) {
      // The session ends anyway; the engine discards the transaction with it.
    }
  }
  driver_.reset();
}

void TFDConnection::StartTransaction() {
  Open();
  driver_->StartTransaction();
}

void TFDConnection::Commit() {
  Driver().Commit();
}

void TFDConnection::Rollback() {
  Driver().Rollback();
}

TDriverConnection& TFDConnection::Driver() {
  if (driver_ == nullptr) throw EFDException("Connection is not active");
  return *driver_;
}

void TFDConnection::Attach(TFDConnectionClient* client) {
  std::lock_guard lock(clients_mutex_);
  if (std::find(clients_.begin(), clients_.end(), client) == clients_.end())
    clients_.push_back(client);
}

void TFDConnection::Detach(TFDConnectionClient* client) {
  std::lock_guard lock(clients_mutex_);
  clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

int TFDConnection::AttachedCount() const {
  std::lock_guard lock(clients_mutex_);
  return static_cast<int>(clients_.size());
}

std::mutex& DatasetLinkMutex() {
  static std::mutex mutex;
  return mutex;
}

void TFDConnection::DetachAll() {
  std::lock_guard link(DatasetLinkMutex());
  std::vector<TFDConnectionClient*> clients;
  {
    std::lock_guard lock(clients_mutex_);
    clients.swap(clients_);
  }
  for (TFDConnectionClient* client : clients) client->ConnectionDetached();
}

}  // namespace velmora
