#include "db/pg/pg_connection.h"

#include <fmt/core.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "db/core/db_error.h"
#include "db/core/statement_stop.h"
#include "db/pg/pg_command.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting statement looks at its stop (deadline, cancel) while no reply arrives.
constexpr int kPollSliceMs = 20;
// How long a stopped statement may take to answer the cancel before the session is given up.
constexpr auto kCancelGrace = std::chrono::seconds(10);

// Lines of DataBase.CFG that are ours and never reach libpq.
constexpr std::string_view kOwnKeys[] = {"DriverID", "Server",    "Port",
                                         "Database", "User_Name", "Password"};

void AppendPair(std::string& out, std::string_view key, std::string_view value) {
  if (!out.empty()) out += ' ';
  out.append(key);
  out += "='";
  for (char c : value) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  out += '\'';
}

std::string LowerCased(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string TrimmedMessage(const char* message) {
  std::string out = message != nullptr ? message : "";
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// SQLSTATE packed six bits a character, as the server itself packs it.
int PackedSqlState(const char* state) {
  if (state == nullptr) return 0;
  int code = 0;
  for (int i = 0; i < 5 && state[i] != '\0'; ++i) code |= ((state[i] - '0') & 0x3F) << (6 * i);
  return code;
}

void IgnoreNotice(void*, const char*) {}

// Settings the server reports to the client whenever they change (libpq keeps the last value of
// each), so that a change made where no statement shows it (set_config in a function) is seen
// without asking the server. A name the server does not report reads as null.
constexpr const char* kReportedSettings[] = {"standard_conforming_strings",
                                             "DateStyle",
                                             "IntervalStyle",
                                             "TimeZone",
                                             "client_encoding",
                                             "application_name",
                                             "session_authorization",
                                             "is_superuser",
                                             "default_transaction_read_only",
                                             "search_path"};

// This machine's time zone by name (TZ, else the target of /etc/localtime), so that the server
// reads and writes zoned time stamps in the local time the date-time values hold; empty when
// unknown (the server's own zone applies).
std::string LocalZoneName() {
  if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
    std::string_view name = tz;
    if (name.front() == ':') name.remove_prefix(1);
    const size_t at = name.find("zoneinfo/");
    return std::string(at == std::string_view::npos ? name : name.substr(at + 9));
  }
  std::error_code error;
  const std::string target = std::filesystem::read_symlink("/etc/localtime", error).string();
  const size_t at = target.find("zoneinfo/");
  return error || at == std::string::npos ? std::string() : target.substr(at + 9);
}

bool IsZoneName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '/' || c == '_' || c == '-' || c == '+';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::string BuildPgConnInfo(const TStringList& params) {
  std::string out;
  const auto own = [&params](std::string_view key) { return params.Values(key); };
  if (const std::string host = own("Server"); !host.empty()) AppendPair(out, "host", host);
  const std::string port = own("Port");
  AppendPair(out, "port", port.empty() ? "5432" : port);
  if (const std::string db = own("Database"); !db.empty()) AppendPair(out, "dbname", db);
  if (const std::string user = own("User_Name"); !user.empty()) AppendPair(out, "user", user);
  if (const std::string pw = own("Password"); !pw.empty()) AppendPair(out, "password", pw);

  bool has_timeout = false, has_encoding = false, has_application = false;
  std::string options;
  for (int i = 0; i < params.Count(); ++i) {
    const std::string name = params.Names(i);
    if (TrimBlanks(name).empty()) continue;
    bool ours = false;
    for (std::string_view k : kOwnKeys) ours = ours || EqualsNoCase(name, k);
    if (ours || params.IndexOfName(name) != i) continue;  // the first line of a name wins
    const std::string key = LowerCased(TrimBlanks(name));
    const std::string value = params.ValueFromIndex(i);
    if (key == "options") {
      options = value;
      continue;
    }
    has_timeout = has_timeout || key == "connect_timeout";
    has_encoding = has_encoding || key == "client_encoding";
    has_application = has_application || key == "application_name";
    AppendPair(out, key, value);
  }
  if (!has_timeout) AppendPair(out, "connect_timeout", "10");
  if (!has_encoding) AppendPair(out, "client_encoding", "UTF8");
  if (!has_application) AppendPair(out, "application_name", "Velmora");
  // The text forms the driver reads; settings of the file's own options line come after and win.
  std::string session = "-c DateStyle=ISO -c bytea_output=hex -c lc_monetary=C";
  if (const std::string zone = LocalZoneName(); IsZoneName(zone)) session += " -c TimeZone=" + zone;
  if (!options.empty()) session += " " + options;
  AppendPair(out, "options", session);
  return out;
}

void ThrowPgResultError(const TLibPq& pq, const PGresult* result) {
  std::string message = TrimmedMessage(pq.resultErrorMessage(result));
  if (message.empty()) message = "PostgreSQL reported an error without a message";
  throw EFDDBEngineException(PackedSqlState(pq.resultErrorField(result, PG_DIAG_SQLSTATE)),
                             message);
}

TPgConnection::TPgConnection(const TStringList& params) : pq_(LibPq()) {
  const std::string conninfo = BuildPgConnInfo(params);
  conn_ = pq_.connectdb(conninfo.c_str());
  if (conn_ == nullptr) throw EFDException("libpq could not allocate a connection");
  if (pq_.status(conn_) != CONNECTION_OK) {
    const std::string message = TrimmedMessage(pq_.errorMessage(conn_));
    pq_.finish(conn_);
    conn_ = nullptr;
    throw EFDDBEngineException(0, message);
  }
  // Notices (RAISE NOTICE, implicit index creation) would go to standard error otherwise.
  pq_.setNoticeProcessor(conn_, IgnoreNotice, nullptr);
  cancel_ = pq_.getCancel(conn_);
  opened_settings_ = ReportedSettings();
}

std::vector<std::optional<std::string>> TPgConnection::ReportedSettings() const {
  std::vector<std::optional<std::string>> values;
  values.reserve(std::size(kReportedSettings));
  for (const char* name : kReportedSettings) {
    const char* value = pq_.parameterStatus(conn_, name);
    values.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
  }
  return values;
}

bool TPgConnection::StandardStrings() const {
  const char* value = pq_.parameterStatus(conn_, "standard_conforming_strings");
  return value != nullptr && std::string_view(value) == "on";
}

bool TPgConnection::RestoreSession() {
  if (!session_changed_) {
    bool same = true;
    for (size_t i = 0; i < std::size(kReportedSettings) && same; ++i) {
      const char* value = pq_.parameterStatus(conn_, kReportedSettings[i]);
      const std::optional<std::string>& opened = opened_settings_[i];
      same = opened.has_value() == (value != nullptr) && (value == nullptr || *opened == value);
    }
    if (same) return true;
  }
  // Settings back to the connection's own (those of its start, the options line's included),
  // the login role, and no temporary objects, prepared statements, cursors, LISTENs or session
  // locks. Never inside a transaction block: the pool has rolled back what a caller left open.
  RunControl("DISCARD ALL");
  statements_.Clear();  // gone on the server with the rest
  closing_.clear();
  ForgetCatalog();  // temporary tables may have had the oids the catalog cache holds
  session_changed_ = false;
  return true;
}

TPgConnection::~TPgConnection() {
  if (cancel_ != nullptr) pq_.freeCancel(cancel_);
  if (conn_ != nullptr) pq_.finish(conn_);
}

bool TPgConnection::ConnectionLost() {
  if (pq_.status(conn_) != CONNECTION_BAD) return false;
  if (unusable_.empty()) {
    unusable_ = TrimmedMessage(pq_.errorMessage(conn_));
    if (unusable_.empty()) unusable_ = "The connection to the PostgreSQL server was lost";
  }
  return true;
}

void TPgConnection::FailConnection(const std::string& message) {
  ConnectionLost();
  if (unusable_.empty()) unusable_ = message;
  throw EFDDBEngineException(0, message);
}

std::string TPgConnection::UnusableReason(bool look) {
  if (!unusable_.empty() || ConnectionLost()) return unusable_;
  if (look) {
    // An idle session has nothing to read unless the server spoke: a shut-down server has sent
    // its farewell (read as a notice) and closed the socket; a few reads reach the end.
    for (int round = 0; round < 4 && unusable_.empty(); ++round) {
      pollfd p{pq_.socket(conn_), POLLIN, 0};
      if (p.fd < 0 || ::poll(&p, 1, 0) <= 0) break;
      if (pq_.consumeInput(conn_) == 0 || ConnectionLost()) {
        if (unusable_.empty()) unusable_ = TrimmedMessage(pq_.errorMessage(conn_));
      }
    }
  }
  return unusable_;
}

TPgResult TPgConnection::Await(bool stoppable, int pipeline_syncs,
                               bool first_segment_errors_ignored) {
  const bool pipelined = pipeline_syncs > 0;
  int syncs_seen = 0;
  bool cancel_sent = false;
  Clock::time_point give_up = Clock::time_point::max();
  TPgResult last, error;
  bool after_end = false;  // the last getResult ended one statement's results
  for (;;) {
    while (pq_.isBusy(conn_) != 0) {
      if (stoppable && StatementStop() != nullptr && !cancel_sent &&
          StatementStop()->Check() != TStatementStop::Reason::kNone) {
        char why[256] = {};
        cancel_sent = true;
        give_up = Clock::now() + kCancelGrace;
        if (cancel_ == nullptr || pq_.cancel(cancel_, why, sizeof why) == 0) {
          FailConnection(StatementStop()->Message() +
                         " (the server could not be asked to stop: " + why + ")");
        }
      }
      if (cancel_sent && Clock::now() > give_up) {
        unusable_ = "The PostgreSQL server did not answer the cancel of a statement";
        throw EFDDBEngineException(0, StatementStop()->Message());
      }
      pollfd p{pq_.socket(conn_), POLLIN, 0};
      if (p.fd < 0) FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
      const int ready = ::poll(&p, 1, kPollSliceMs);
      if (ready < 0 && errno != EINTR) FailConnection("poll on the PostgreSQL socket failed");
      if (ready > 0 && pq_.consumeInput(conn_) == 0) {
        FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
      }
    }
    PGresult* result = pq_.getResult(conn_);
    if (result == nullptr) {
      // A pipeline ends each statement's results with a null and the whole with its sync; two
      // nulls in a row mean nothing more is coming (a lost connection).
      if (!pipelined || after_end) break;
      after_end = true;
      continue;
    }
    after_end = false;
    const ExecStatusType status = pq_.resultStatus(result);
    if (status == PGRES_PIPELINE_SYNC) {
      pq_.clear(result);
      if (++syncs_seen == pipeline_syncs) break;
      continue;
    }
    if (status == PGRES_PIPELINE_ABORTED) {  // skipped after an earlier statement's error
      pq_.clear(result);
      continue;
    }
    if (status == PGRES_FATAL_ERROR || status == PGRES_NONFATAL_ERROR) {
      if (!error && !(first_segment_errors_ignored && syncs_seen == 0))
        error = TPgResult(&pq_, result);
      else
        pq_.clear(result);
    } else {
      last = TPgResult(&pq_, result);
    }
  }
  if (pipelined && pq_.exitPipelineMode(conn_) == 0 && !ConnectionLost()) {
    unusable_ = "The PostgreSQL connection could not leave pipeline mode";
  }
  if (error) {
    ConnectionLost();
    if (cancel_sent && StatementStop() != nullptr) {
      const std::string message = StatementStop()->Message();
      if (!message.empty()) throw EFDDBEngineException(0, message);
    }
    ThrowPgResultError(pq_, error.get());
  }
  if (!last) FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
  return last;
}

namespace {

int Count(const TPgSendParams& p) {
  return static_cast<int>(p.values.size());
}
const Oid* Types(const TPgSendParams& p) {
  return p.types.empty() ? nullptr : p.types.data();
}

}  // namespace

TPgResult TPgConnection::Exec(const std::string& sql, const TPgSendParams& params, bool arm) {
  if (arm && StatementStop() != nullptr) StatementStop()->Arm();
  if (pq_.sendQueryParams(conn_, sql.c_str(), Count(params), Types(params), params.values.data(),
                          params.lengths.data(), params.formats.data(), 0) == 0) {
    FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
  }
  return Await(true);
}

TPgResult TPgConnection::PrepareAndDescribe(const std::string& sql, const TPgSendParams& params) {
  if (StatementStop() != nullptr) StatementStop()->Arm();
  if (pq_.enterPipelineMode != nullptr) {
    // Parse and Describe go out together and are answered in one round trip.
    if (pq_.enterPipelineMode(conn_) == 0 ||
        pq_.sendPrepare(conn_, "", sql.c_str(), Count(params), Types(params)) == 0 ||
        pq_.sendDescribePrepared(conn_, "") == 0 || pq_.pipelineSync(conn_) == 0) {
      FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
    }
    return Await(true, 1);
  }
  if (pq_.sendPrepare(conn_, "", sql.c_str(), Count(params), Types(params)) == 0) {
    FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
  }
  Await(true);
  if (pq_.sendDescribePrepared(conn_, "") == 0) {
    FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
  }
  return Await(true);
}

TPgResult TPgConnection::ExecutePrepared(const TPgSendParams& params) {
  if (pq_.sendQueryPrepared(conn_, "", Count(params), params.values.data(), params.lengths.data(),
                            params.formats.data(), 0) == 0) {
    FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
  }
  return Await(true);
}

void TPgConnection::KeepStatement(std::string key, TPgKeptStatement statement) {
  if (auto evicted = statements_.Put(std::move(key), std::move(statement))) {
    CloseStatement(std::move(*evicted));
  }
}

TPgKeptStatement TPgConnection::NewStatement() {
  return TPgKeptStatement{fmt::format("velmora_{}", ++statement_serial_)};
}

TPgResult TPgConnection::RunNamed(const TPgKeptStatement& statement, const std::string* prepare_sql,
                                  const TPgSendParams& params) {
  if (StatementStop() != nullptr) StatementStop()->Arm();
  const char* name = statement.name.c_str();
  if (prepare_sql == nullptr && closing_.empty()) {
    if (pq_.sendQueryPrepared(conn_, name, Count(params), params.values.data(),
                              params.lengths.data(), params.formats.data(), 0) == 0) {
      FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
    }
    return Await(true);
  }
  // Closes, Parse, Bind and Execute go out together: one round trip. The closes have a segment
  // of their own, so that one failing (a statement the server no longer has) stops nothing else.
  if (pq_.enterPipelineMode(conn_) == 0) FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
  int syncs = 0;
  const bool closes = !closing_.empty();
  if (closes) {
    for (const std::string& old : closing_) {
      const int sent = pq_.sendClosePrepared != nullptr
                           ? pq_.sendClosePrepared(conn_, old.c_str())
                           : pq_.sendQueryParams(conn_, ("DEALLOCATE " + old).c_str(), 0, nullptr,
                                                 nullptr, nullptr, nullptr, 0);
      if (sent == 0) FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
    }
    closing_.clear();
    if (pq_.pipelineSync(conn_) == 0) FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
    ++syncs;
  }
  if ((prepare_sql != nullptr &&
       pq_.sendPrepare(conn_, name, prepare_sql->c_str(), Count(params), Types(params)) == 0) ||
      pq_.sendQueryPrepared(conn_, name, Count(params), params.values.data(), params.lengths.data(),
                            params.formats.data(), 0) == 0 ||
      pq_.pipelineSync(conn_) == 0) {
    FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
  }
  ++syncs;
  return Await(true, syncs, closes);
}

bool TPgConnection::MayRunAgain() {
  if (!UnusableReason(false).empty()) return false;
  if (StatementStop() != nullptr && StatementStop()->Check() != TStatementStop::Reason::kNone) {
    throw EFDDBEngineException(0, StatementStop()->Message());
  }
  return true;
}

TPgResult TPgConnection::RunControl(const char* sql) {
  if (StatementStop() != nullptr)
    StatementStop()->Disarm();  // transaction control is never stopped
  if (pq_.sendQueryParams(conn_, sql, 0, nullptr, nullptr, nullptr, nullptr, 0) == 0) {
    FailConnection(TrimmedMessage(pq_.errorMessage(conn_)));
  }
  return Await(false);
}

void TPgConnection::BeginTransaction() {
  RunControl("BEGIN");
  transaction_begun_ = true;
}

void TPgConnection::CommitTransaction() {
  const bool failed = pq_.transactionStatus(conn_) == PQTRANS_INERROR;
  const TPgResult result = RunControl("COMMIT");
  transaction_begun_ = false;
  // The server answers COMMIT of a failed transaction with a rollback, not with an error.
  if (failed || std::string_view(pq_.cmdStatus(result.get())) == "ROLLBACK") {
    throw EFDDBEngineException(
        0, "The transaction was rolled back: a statement in it failed before the commit");
  }
}

bool TPgConnection::TransactionEndedByEngine() {
  // The transaction begun here has ended already (the session lost its server): nothing is left
  // to undo.
  const bool begun = transaction_begun_;
  transaction_begun_ = false;
  return begun;
}

void TPgConnection::RollbackTransaction() {
  transaction_begun_ = false;
  RunControl("ROLLBACK");
}

bool TPgConnection::InTransaction() const {
  const PGTransactionStatusType status = pq_.transactionStatus(conn_);
  return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

const TPgTable* TPgConnection::Table(Oid table_oid) {
  if (const auto it = tables_.find(table_oid); it != tables_.end()) return &it->second;
  static constexpr const char* kSql =
      "SELECT c.relname, n.nspname, pg_catalog.pg_table_is_visible(c.oid), a.attnum, a.attname,"
      " a.attnotnull, (a.attidentity <> '' OR COALESCE(pg_catalog.pg_get_expr(d.adbin, d.adrelid)"
      " LIKE 'nextval(%', false)), COALESCE(a.attnum = ANY(i.indkey), false)"
      " FROM pg_catalog.pg_class c"
      " JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
      " JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0"
      " AND NOT a.attisdropped"
      " LEFT JOIN pg_catalog.pg_attrdef d ON d.adrelid = c.oid AND d.adnum = a.attnum"
      " LEFT JOIN pg_catalog.pg_index i ON i.indrelid = c.oid AND i.indisprimary"
      " WHERE c.oid = $1 ORDER BY a.attnum";
  const std::string oid_text = std::to_string(table_oid);
  TPgSendParams params;
  params.values = {oid_text.c_str()};
  params.lengths = {0};
  params.formats = {0};
  params.types = {26};
  const TPgResult result = Exec(kSql, params, false);  // part of the statement asking
  PGresult* r = result.get();
  const int rows = pq_.ntuples(r);
  if (rows == 0) return nullptr;
  TPgTable table;
  const std::string_view visible = pq_.getvalue(r, 0, 2);
  table.name = visible == "t" ? std::string(pq_.getvalue(r, 0, 0))
                              : fmt::format("{}.{}", pq_.getvalue(r, 0, 1), pq_.getvalue(r, 0, 0));
  for (int row = 0; row < rows; ++row) {
    const int attnum = std::atoi(pq_.getvalue(r, row, 3));
    if (attnum <= 0) continue;
    if (table.columns.size() < static_cast<size_t>(attnum)) table.columns.resize(attnum);
    TPgTableColumn& column = table.columns[static_cast<size_t>(attnum - 1)];
    column.name = pq_.getvalue(r, row, 4);
    column.not_null = std::string_view(pq_.getvalue(r, row, 5)) == "t";
    column.auto_inc = std::string_view(pq_.getvalue(r, row, 6)) == "t";
    column.in_key = std::string_view(pq_.getvalue(r, row, 7)) == "t";
  }
  return &tables_.emplace(table_oid, std::move(table)).first->second;
}

std::shared_ptr<const TPgLayout> TPgConnection::Layout(const PGresult* result) {
  if (auto kept = layouts_.Find(pq_, result)) return kept;
  auto layout = std::make_shared<TPgLayout>();
  layout->shapes = PgColumnShapes(pq_, result);
  layout->types.reserve(layout->shapes.size());
  for (const TPgColumnShape& shape : layout->shapes) {
    TFieldDef def;
    def.Name = shape.name;
    const TPgColumnType type = MapPgType(shape.type, shape.typmod);
    def.DataType = type.type;
    def.Size = type.size;
    def.Precision = type.precision;
    def.Scale = type.scale;
    const TPgTable* table =
        shape.table != InvalidOid && shape.table_column > 0 ? Table(shape.table) : nullptr;
    if (table != nullptr && static_cast<size_t>(shape.table_column) <= table->columns.size()) {
      const TPgTableColumn& origin = table->columns[static_cast<size_t>(shape.table_column - 1)];
      def.OriginTable = table->name;
      def.OriginColumn = origin.name;
      def.Required = origin.not_null;
      def.InKey = origin.in_key;
      def.AutoInc = origin.auto_inc;
    } else {
      def.ReadOnly = true;  // an expression: nothing to write back to
    }
    layout->columns.Add(std::move(def));
    layout->types.push_back(type);
  }
  layouts_.Keep(layout);
  return layout;
}

std::unique_ptr<TDriverCommand> TPgConnection::CreateCommand(std::string sql) {
  return std::make_unique<TPgCommand>(*this, std::move(sql));
}

}  // namespace velmora
