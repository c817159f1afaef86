#include "db/odbc/odbc_connection.h"

#include <fmt/core.h>

#include <cctype>

#include "db/core/db_error.h"
#include "db/core/sqlite_escape_sql.h"
#include "db/core/statement_stop.h"
#include "db/odbc/odbc_command.h"
#include "db/odbc/odbc_connection_string.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The driver names the driver manager knows (odbcinst.ini), asked through SQLDrivers.
bool DriverRegistered(const TOdbcApi& api, SQLHENV env, std::string_view name) {
  SQLCHAR description[512];
  SQLCHAR attributes[2048];
  SQLSMALLINT description_len = 0, attributes_len = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (true) {
    const SQLRETURN rc =
        api.SQLDrivers(env, direction, description, sizeof description, &description_len,
                       attributes, sizeof attributes, &attributes_len);
    if (!SQL_SUCCEEDED(rc)) return false;
    if (EqualsNoCase(reinterpret_cast<const char*>(description), name)) return true;
    direction = SQL_FETCH_NEXT;
  }
}

struct TDiagnostics {
  std::string message;
  std::string first_state;
  SQLINTEGER native = 0;
  bool connection_lost = false;
};

TDiagnostics ReadDiagnostics(const TOdbcApi& api, SQLSMALLINT type, SQLHANDLE handle) {
  TDiagnostics d;
  for (SQLSMALLINT record = 1; record <= 20; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR text[2048];
    SQLSMALLINT text_len = 0;
    const SQLRETURN rc =
        api.SQLGetDiagRec(type, handle, record, state, &native, text, sizeof text, &text_len);
    if (!SQL_SUCCEEDED(rc)) break;
    const std::string_view sqlstate(reinterpret_cast<const char*>(state));
    if (record == 1) {
      d.first_state = sqlstate;
      d.native = native;
    }
    if (OdbcStateMeansConnectionLost(sqlstate)) d.connection_lost = true;
    const size_t len =
        std::min<size_t>(text_len > 0 ? static_cast<size_t>(text_len) : 0, sizeof text - 1);
    if (!d.message.empty()) d.message += '\n';
    d.message.append(reinterpret_cast<const char*>(text), len);
  }
  return d;
}

constexpr SQLINTEGER kNoDiagnosticsCode = -1;

}  // namespace

bool OdbcStateMeansConnectionLost(std::string_view sqlstate) {
  // 08xxx: connection exceptions (08S01 link failure, 08003 not open, 08007 lost during a
  // transaction ...); HYT01: the connection's own time-out.
  return (sqlstate.size() == 5 && sqlstate.substr(0, 2) == "08") || sqlstate == "HYT01";
}

void ThrowOdbcError(const TOdbcApi& api, SQLSMALLINT type, SQLHANDLE handle, SQLRETURN rc) {
  TDiagnostics d = ReadDiagnostics(api, type, handle);
  if (d.message.empty()) {
    throw EFDDBEngineException(kNoDiagnosticsCode,
                               fmt::format("ODBC call failed with return code {}", rc));
  }
  throw EFDDBEngineException(d.native, d.message);
}

TOdbcConnection::TOdbcConnection(const TStringList& params) : api_(OdbcApi()) {
  try {
    SQLRETURN rc = api_.SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    if (!SQL_SUCCEEDED(rc)) throw EFDException("Cannot allocate an ODBC environment");
    rc = api_.SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                            0);
    if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(api_, SQL_HANDLE_ENV, env_, rc);
    const TOdbcConnectTarget target = BuildOdbcConnectTarget(
        params, [this](std::string_view name) { return DriverRegistered(api_, env_, name); });
    rc = api_.SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(api_, SQL_HANDLE_ENV, env_, rc);
    rc = api_.SQLSetConnectAttr(
        dbc_, SQL_ATTR_LOGIN_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(target.login_timeout_seconds)), 0);
    if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(api_, SQL_HANDLE_DBC, dbc_, rc);
    std::string in = target.connection_string;
    SQLCHAR out[1024];
    SQLSMALLINT out_len = 0;
    rc = api_.SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                               static_cast<SQLSMALLINT>(in.size()), out, sizeof out, &out_len,
                               SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(api_, SQL_HANDLE_DBC, dbc_, rc);
    connected_ = true;

    driver_name_ = InfoText(SQL_DRIVER_NAME);
    SQLUSMALLINT txn = SQL_TC_ALL;
    if (SQL_SUCCEEDED(api_.SQLGetInfo(dbc_, SQL_TXN_CAPABLE, &txn, sizeof txn, nullptr)))
      has_transactions_ = txn != SQL_TC_NONE;
    const std::string dbms = InfoText(SQL_DBMS_NAME);
    sqlite_ = dbms == "SQLite";
    if (sqlite_) dialect_ = &kSQLiteSqlDialect;
    if (dbms == "PostgreSQL") {
      dialect_ = &kPostgresSqlDialect;
      batches_ = TBatches::kSplit;
    } else if (InfoText(SQL_MULT_RESULT_SETS) != "Y") {
      batches_ = TBatches::kSplit;
    }
    has_procedures_ = InfoText(SQL_PROCEDURES) == "Y";
    WatchDatabaseFile();
  } catch (...) {
    if (connected_) api_.SQLDisconnect(dbc_);
    if (dbc_ != SQL_NULL_HDBC) api_.SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    if (env_ != SQL_NULL_HENV) api_.SQLFreeHandle(SQL_HANDLE_ENV, env_);
    throw;
  }
  watch_ = std::make_unique<TStatementWatch>([this] {
    // Runs on the watch's thread only while a scope is open, so running_ is the statement in
    // the driver now; SQLCancel is the one call ODBC allows from another thread.
    api_.SQLCancel(running_);
  });
}

TOdbcConnection::~TOdbcConnection() {
  scope_.reset();
  watch_.reset();
  if (transaction_begun_ && has_transactions_) {
    api_.SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  }
  api_.SQLDisconnect(dbc_);
  api_.SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  api_.SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

std::string TOdbcConnection::InfoText(SQLUSMALLINT info) {
  char text[256] = {};
  SQLSMALLINT len = 0;
  if (!SQL_SUCCEEDED(api_.SQLGetInfo(dbc_, info, text, sizeof text, &len))) return {};
  return std::string(text,
                     std::min<size_t>(len > 0 ? static_cast<size_t>(len) : 0, sizeof text - 1));
}

void TOdbcConnection::WatchDatabaseFile() {
  // The driver names the file it opened (a DSN's as well as the connection string's); a path
  // that names nothing (in memory, or not yet made) is not watched.
  if (sqlite_) file_ = TFileIdentity::Of(InfoText(SQL_DATABASE_NAME));
}

void TOdbcConnection::NoticeFileChange() {
  if (!unusable_.empty()) return;
  unusable_ = file_.ChangeMessage();
}

void TOdbcConnection::Fail(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN rc) {
  TDiagnostics d = ReadDiagnostics(api_, type, handle);
  if (d.connection_lost && unusable_.empty()) unusable_ = d.message;
  NoticeFileChange();
  if (d.message.empty()) {
    throw EFDDBEngineException(kNoDiagnosticsCode,
                               fmt::format("ODBC call failed with return code {}", rc));
  }
  throw EFDDBEngineException(d.native, d.message);
}

void TOdbcConnection::BeginStatement(SQLHSTMT stmt) {
  EndStatement();
  if (StatementStop() == nullptr) return;
  StatementStop()->Arm();
  running_ = stmt;
  scope_ = std::make_unique<TStatementWatch::Scope>(*watch_, *StatementStop());
}

void TOdbcConnection::EndStatement() {
  scope_.reset();
  running_ = SQL_NULL_HSTMT;
}

void TOdbcConnection::FailStatement(SQLHSTMT stmt, SQLRETURN rc) {
  const bool watched = scope_ != nullptr;
  EndStatement();
  if (watched && StatementStop() != nullptr &&
      StatementStop()->Check() != TStatementStop::Reason::kNone) {
    const std::string message = StatementStop()->Message();
    // The driver's diagnostics of the cancelled call are read and dropped: the reason is ours.
    (void)ReadDiagnostics(api_, SQL_HANDLE_STMT, stmt);
    throw EFDDBEngineException(kNoDiagnosticsCode, message);
  }
  Fail(SQL_HANDLE_STMT, stmt, rc);
}

void TOdbcConnection::SetAutoCommit(bool on) {
  const SQLRETURN rc = api_.SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                                              reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(
                                                  on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                                              0);
  if (!SQL_SUCCEEDED(rc)) Fail(SQL_HANDLE_DBC, dbc_, rc);
}

void TOdbcConnection::EndTransaction(SQLSMALLINT completion) {
  if (StatementStop() != nullptr)
    StatementStop()->Disarm();  // transaction control is never stopped
  if (has_transactions_) {
    const SQLRETURN rc = api_.SQLEndTran(SQL_HANDLE_DBC, dbc_, completion);
    if (!SQL_SUCCEEDED(rc)) Fail(SQL_HANDLE_DBC, dbc_, rc);
    SetAutoCommit(true);
  }
  transaction_begun_ = false;
}

void TOdbcConnection::BeginTransaction() {
  if (has_transactions_) SetAutoCommit(false);
  transaction_begun_ = true;
}

void TOdbcConnection::CommitTransaction() {
  EndTransaction(SQL_COMMIT);
}

void TOdbcConnection::RollbackTransaction() {
  EndTransaction(SQL_ROLLBACK);
}

std::string TOdbcConnection::UnusableReason(bool look) {
  if (look) NoticeFileChange();
  if (look && unusable_.empty()) {
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (SQL_SUCCEEDED(api_.SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
        dead == SQL_CD_TRUE) {
      unusable_ = "The connection to the database was lost";
    }
  }
  return unusable_;
}

std::string TOdbcConnection::TranslateEscape(const TSqlEscape& escape) const {
  if (sqlite_) return SQLiteEscapeSql(escape);
  // ODBC drivers rewrite the escapes themselves: they pass on as ODBC wrote them.
  switch (escape.kind) {
    case TSqlEscape::kDate:
      return "{d " + escape.args.at(0) + "}";
    case TSqlEscape::kTime:
      return "{t " + escape.args.at(0) + "}";
    case TSqlEscape::kTimeStamp:
      return "{ts " + escape.args.at(0) + "}";
    case TSqlEscape::kFunction:
      return "{fn " + RenderEscapePlain(escape) + "}";
    case TSqlEscape::kOuterJoin:
      return "{oj " + escape.args.at(0) + "}";
    case TSqlEscape::kLikeEscape:
      return "{escape " + escape.args.at(0) + "}";
  }
  return RenderEscapePlain(escape);
}

bool TOdbcConnection::IsKeyColumn(const std::string& schema, const std::string& table,
                                  const std::string& column) {
  const std::string cache_key = Upper(schema) + "." + Upper(table);
  auto it = keys_.find(cache_key);
  if (it == keys_.end()) {
    std::set<std::string> columns;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (SQL_SUCCEEDED(api_.SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) {
      std::string s = schema, t = table;
      const SQLRETURN rc = api_.SQLPrimaryKeys(
          stmt, nullptr, 0, s.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(s.data()),
          static_cast<SQLSMALLINT>(s.size()), reinterpret_cast<SQLCHAR*>(t.data()),
          static_cast<SQLSMALLINT>(t.size()));
      if (SQL_SUCCEEDED(rc)) {
        while (SQL_SUCCEEDED(api_.SQLFetch(stmt))) {
          char name[512] = {};
          SQLLEN len = 0;
          if (SQL_SUCCEEDED(api_.SQLGetData(stmt, 4, SQL_C_CHAR, name, sizeof name, &len)) &&
              len > 0) {
            columns.insert(Upper(name));
          }
        }
      }
      api_.SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    it = keys_.emplace(cache_key, std::move(columns)).first;
  }
  return it->second.count(Upper(column)) != 0;
}

std::unique_ptr<TDriverCommand> TOdbcConnection::CreateCommand(std::string sql) {
  return std::make_unique<TOdbcCommand>(*this, std::move(sql));
}

std::unique_ptr<TDriverCommand> TOdbcConnection::CreateStoredProc(std::string_view name,
                                                                  std::span<TParam* const> params) {
  if (!has_procedures_) {
    throw EFDException(fmt::format("Stored procedures are not supported by the ODBC driver {}",
                                   driver_name_.empty() ? "in use" : driver_name_));
  }
  return TOdbcCommand::StoredProc(*this, name, params);
}

}  // namespace velmora
