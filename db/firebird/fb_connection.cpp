#include "db/firebird/fb_connection.h"

#include <fmt/core.h>

#include <cstring>

#include "db/core/db_error.h"
#include "db/core/statement_stop.h"
#include "db/firebird/fb_api.h"
#include "db/firebird/fb_command.h"
#include "db/firebird/fb_sqlda.h"
#include "db/firebird/fb_stored_proc.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

constexpr int kDialect = 3;

// Errors after which the session cannot be trusted with more work: the connection to the server
// or the database is gone, or the database was shut down under it.
bool MeansSessionLost(ISC_STATUS code) {
  switch (code) {
    case isc_network_error:
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_lost_db_connection:
    case isc_conn_lost:
    case isc_shutdown:
    case isc_shutinprog:
    case isc_att_shutdown:
    case isc_bad_db_handle:
    case isc_io_error:
    case isc_io_open_err:
    case isc_io_read_err:
    case isc_db_corrupt:
      return true;
    default:
      return false;
  }
}

// Calls `visit` with each error code of a status vector.
template <typename F>
void ForEachCode(const ISC_STATUS* s, F visit) {
  while (s[0] != isc_arg_end) {
    if (s[0] == isc_arg_gds) visit(s[1]);
    s += s[0] == isc_arg_cstring ? 3 : 2;
  }
}

bool HasCode(const ISC_STATUS* s, ISC_STATUS wanted) {
  bool found = false;
  ForEachCode(s, [&](ISC_STATUS c) { found = found || c == wanted; });
  return found;
}

int64_t Seconds(const TStringList& params, std::string_view key, int64_t fallback) {
  const std::string t = params.Values(key);
  if (t.empty()) return fallback;
  int64_t v = 0;
  if (!ParseInteger(t, v) || v < 0 || v > 86400) {
    throw EFDException(fmt::format("Invalid value [{}] of connection parameter {}", t, key));
  }
  return v;
}

void PutString(std::string& dpb, char tag, std::string_view value) {
  if (value.size() > 255) {
    throw EFDException(fmt::format("Connection parameter value is too long: {}", value));
  }
  dpb += tag;
  dpb += static_cast<char>(value.size());
  dpb.append(value);
}

void PutInt32(std::string& buffer, char tag, uint32_t value, bool with_length) {
  buffer += tag;
  if (with_length) buffer += static_cast<char>(4);
  for (int i = 0; i < 4; ++i) buffer += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Character sets whose text is UTF-8 already, or bytes passed on as they are.
bool IsUtf8Charset(std::string_view name) {
  return EqualsNoCase(name, "UTF8") || EqualsNoCase(name, "UNICODE_FSS") ||
         EqualsNoCase(name, "NONE") || EqualsNoCase(name, "OCTETS") || EqualsNoCase(name, "ASCII");
}

// The name iconv knows for a Firebird character set.
std::string IconvName(std::string_view fb) {
  std::string up(fb);
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (up.starts_with("WIN")) return "CP" + up.substr(3);
  if (up.starts_with("DOS")) return "CP" + up.substr(3);
  if (up.starts_with("ISO8859_")) return "ISO-8859-" + up.substr(8);
  if (up == "KOI8R") return "KOI8-R";
  if (up == "KOI8U") return "KOI8-U";
  if (up == "SJIS_0208") return "SHIFT_JIS";
  if (up == "EUCJ_0208") return "EUC-JP";
  if (up == "GB_2312") return "GB2312";
  if (up == "BIG_5") return "BIG5";
  if (up == "KSC_5601") return "EUC-KR";
  return up;
}

}  // namespace

std::string FbErrorText(const TFbApi& api, const ISC_STATUS* status) {
  std::string text;
  char line[1024];
  const ISC_STATUS* p = status;
  while (api.fb_interpret(line, sizeof line, &p) > 0) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text.empty() ? std::string("Unknown Firebird error") : text;
}

void ThrowFbError(const TFbApi& api, const ISC_STATUS* status) {
  throw EFDDBEngineException(static_cast<int>(status[1]), FbErrorText(api, status));
}

TFbConnection::TFbConnection(const TStringList& params)
    : api_(FbApi()), watch_([this] {
        ISC_STATUS_ARRAY status{};
        // The running call fails with "operation was cancelled"; a call that has just ended
        // leaves nothing to cancel, which is no error worth reporting.
        api_.fb_cancel_operation(status, &db_, fb_cancel_raise);
      }) {
  const std::string database = RequiredDatabase(params);
  const std::string server = params.Values("Server");
  const std::string port = params.Values("Port");
  std::string target = database;
  if (!server.empty()) {
    target = server + (port.empty() ? "" : "/" + port) + ":" + database;
  } else if (!port.empty()) {
    throw EFDException("Connection parameter Port needs Server");
  }

  std::string user = params.Values("User_Name");
  if (user.empty()) user = "SYSDBA";
  std::string charset = params.Values("CharacterSet");
  if (charset.empty()) charset = "UTF8";
  if (!IsUtf8Charset(charset)) text_charset_ = IconvName(charset);
  const int64_t lock_timeout = Seconds(params, "LockTimeout", 10);
  const int64_t login_timeout = Seconds(params, "LoginTimeout", 10);

  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  PutString(dpb, isc_dpb_user_name, user);
  if (const std::string password = params.Values("Password"); !password.empty())
    PutString(dpb, isc_dpb_password, password);
  PutString(dpb, isc_dpb_lc_ctype, charset);
  if (const std::string role = params.Values("Role"); !role.empty())
    PutString(dpb, isc_dpb_sql_role_name, role);
  if (login_timeout > 0)
    PutInt32(dpb, isc_dpb_connect_timeout, static_cast<uint32_t>(login_timeout), true);
  PutInt32(dpb, isc_dpb_sql_dialect, kDialect, true);

  tpb_ = {static_cast<char>(isc_tpb_version3), static_cast<char>(isc_tpb_write),
          static_cast<char>(isc_tpb_read_committed), static_cast<char>(isc_tpb_rec_version)};
  if (lock_timeout == 0) {
    tpb_ += static_cast<char>(isc_tpb_nowait);
  } else {
    tpb_ += static_cast<char>(isc_tpb_wait);
    PutInt32(tpb_, isc_tpb_lock_timeout, static_cast<uint32_t>(lock_timeout), true);
  }

  ISC_STATUS_ARRAY status{};
  if (api_.isc_attach_database(status, 0, target.c_str(), &db_, static_cast<short>(dpb.size()),
                               dpb.data()) != 0) {
    db_ = 0;
    // The engine's text, naming what was opened when it does not already.
    std::string text = FbErrorText(api_, status);
    if (text.find(target) == std::string::npos) text += "\n" + target;
    throw EFDDBEngineException(static_cast<int>(status[1]), text);
  }
  if (server.empty() && database.find(':') == std::string::npos)
    file_ = TFileIdentity::Of(database);
}

TFbConnection::~TFbConnection() {
  ISC_STATUS_ARRAY status{};
  if (statement_tr_ != 0) api_.isc_rollback_transaction(status, &statement_tr_);
  if (transaction_ != 0) api_.isc_rollback_transaction(status, &transaction_);
  if (db_ != 0) api_.isc_detach_database(status, &db_);
}

void TFbConnection::StartTransactionInto(isc_tr_handle* tr) {
  ISC_STATUS_ARRAY status{};
  if (api_.isc_start_transaction(status, tr, 1, &db_, static_cast<unsigned short>(tpb_.size()),
                                 tpb_.data()) != 0) {
    *tr = 0;
    Fail(status);
  }
}

void TFbConnection::BeginTransaction() {
  StartTransactionInto(&transaction_);
}

void TFbConnection::CommitTransaction() {
  if (std::string changed = file_.ChangeMessage(); !changed.empty()) {
    Rollback();
    FailFileChanged(std::move(changed));
  }
  ISC_STATUS_ARRAY status{};
  if (api_.isc_commit_transaction(status, &transaction_) != 0) {
    // A transaction that cannot commit is rolled back, so the session holds none afterwards.
    ISC_STATUS_ARRAY ignored{};
    api_.isc_rollback_transaction(ignored, &transaction_);
    transaction_ = 0;
    Fail(status);
  }
}

void TFbConnection::RollbackTransaction() {
  ISC_STATUS_ARRAY status{};
  const bool failed = api_.isc_rollback_transaction(status, &transaction_) != 0;
  transaction_ = 0;  // a failed rollback leaves nothing this session can still end
  if (failed) Fail(status);
}

isc_tr_handle* TFbConnection::BeginStatement() {
  if (StatementStop() != nullptr) StatementStop()->Arm();
  if (transaction_ != 0) return &transaction_;
  if (statement_tr_ == 0) StartTransactionInto(&statement_tr_);
  return &statement_tr_;
}

void TFbConnection::EndStatement(bool ok) {
  if (statement_tr_ == 0) return;
  if (StatementStop() != nullptr) StatementStop()->Disarm();
  if (std::string changed = ok ? file_.ChangeMessage() : std::string(); !changed.empty()) {
    ISC_STATUS_ARRAY ignored{};
    api_.isc_rollback_transaction(ignored, &statement_tr_);
    statement_tr_ = 0;
    FailFileChanged(std::move(changed));
  }
  ISC_STATUS_ARRAY status{};
  if (ok && api_.isc_commit_transaction(status, &statement_tr_) == 0) {
    statement_tr_ = 0;
    return;
  }
  ISC_STATUS_ARRAY ignored{};
  api_.isc_rollback_transaction(ignored, &statement_tr_);
  statement_tr_ = 0;
  if (ok) Fail(status);
}

void TFbConnection::Fail(const ISC_STATUS* status) {
  if (HasCode(status, isc_cancelled) && StatementStop() != nullptr) {
    StatementStop()->Check();
    const std::string message = StatementStop()->Message();
    if (!message.empty()) throw EFDDBEngineException(static_cast<int>(isc_cancelled), message);
  }
  const std::string text = FbErrorText(api_, status);
  bool lost = false;
  ForEachCode(status, [&](ISC_STATUS c) { lost = lost || MeansSessionLost(c); });
  if (lost && unusable_.empty()) unusable_ = text;
  throw EFDDBEngineException(static_cast<int>(status[1]), text);
}

void TFbConnection::FailFileChanged(std::string message) {
  unusable_ = std::move(message);
  throw EFDDBEngineException(static_cast<int>(isc_io_error), unusable_);
}

std::string TFbConnection::UnusableReason(bool look) {
  if (look && unusable_.empty()) unusable_ = file_.ChangeMessage();
  return unusable_;
}

std::vector<std::string> TFbConnection::QueryStrings(const std::string& sql, isc_tr_handle* tr) {
  std::vector<std::string> rows;
  ISC_STATUS_ARRAY status{};
  isc_stmt_handle stmt = 0;
  if (api_.isc_dsql_allocate_statement(status, &db_, &stmt) != 0) Fail(status);
  TFbSqlda out(1);
  const auto fail = [&] {
    ISC_STATUS_ARRAY ignored{};
    api_.isc_dsql_free_statement(ignored, &stmt, DSQL_drop);
    Fail(status);
  };
  if (api_.isc_dsql_prepare(status, tr, &stmt, 0, sql.c_str(), kDialect, out.Get()) != 0) fail();
  if (out.Count() < 1) fail();
  XSQLVAR& var = out.Var(0);
  var.sqltype = SQL_VARYING | 1;  // text whatever the column is; the engine converts
  if (var.sqllen < 64) var.sqllen = 64;
  out.AllocateForOutput();
  if (api_.isc_dsql_execute(status, tr, &stmt, SQL_DIALECT_V6, nullptr) != 0) fail();
  for (;;) {
    const ISC_STATUS rc = api_.isc_dsql_fetch(status, &stmt, SQL_DIALECT_V6, out.Get());
    if (rc == 100) break;
    if (rc != 0) fail();
    if (*var.sqlind < 0) continue;
    const auto len = static_cast<size_t>(*reinterpret_cast<const uint16_t*>(var.sqldata));
    std::string value(var.sqldata + 2, len);
    while (!value.empty() && value.back() == ' ') value.pop_back();
    rows.push_back(std::move(value));
  }
  api_.isc_dsql_free_statement(status, &stmt, DSQL_drop);
  return rows;
}

const TFbTableKeys& TFbConnection::TableKeys(const std::string& table, isc_tr_handle* tr) {
  if (const auto it = keys_.find(table); it != keys_.end()) return it->second;
  std::string quoted;
  for (char c : table) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  // One round trip: 'K' rows for the primary key's columns, 'I' rows for identity columns.
  const std::string sql = fmt::format(
      "SELECT 'K' || s.RDB$FIELD_NAME FROM RDB$RELATION_CONSTRAINTS c "
      "JOIN RDB$INDEX_SEGMENTS s ON s.RDB$INDEX_NAME = c.RDB$INDEX_NAME "
      "WHERE c.RDB$RELATION_NAME = '{0}' AND c.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' "
      "UNION ALL SELECT 'I' || f.RDB$FIELD_NAME FROM RDB$RELATION_FIELDS f "
      "WHERE f.RDB$RELATION_NAME = '{0}' AND f.RDB$IDENTITY_TYPE IS NOT NULL",
      quoted);
  TFbTableKeys keys;
  for (std::string& row : QueryStrings(sql, tr)) {
    std::string column = row.substr(1);
    while (!column.empty() && column.back() == ' ') column.pop_back();
    (row[0] == 'K' ? keys.key : keys.identity).insert(std::move(column));
  }
  return keys_.emplace(table, std::move(keys)).first->second;
}

std::unique_ptr<TDriverCommand> TFbConnection::CreateCommand(std::string sql) {
  return std::make_unique<TFbCommand>(*this, std::move(sql));
}

std::unique_ptr<TDriverCommand> TFbConnection::CreateStoredProc(std::string_view name,
                                                                std::span<TParam* const> params) {
  return CreateFbStoredProc(*this, name, params);
}

}  // namespace velmora
