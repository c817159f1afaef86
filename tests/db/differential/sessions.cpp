#include "tests/db/differential/sessions.h"

#include <fmt/format.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <stdexcept>

#include "data/mem_table.h"
#include "tools/self_host/whole_file.h"
#include "variant/date_time_format.h"

namespace velmora::test::differential {
namespace {

class SqliteSession : public Session {
 public:
  explicit SqliteSession(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
      const std::string message = sqlite3_errmsg(db_);
      sqlite3_close(db_);
      throw std::runtime_error("sqlite3_open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
  }
  ~SqliteSession() override { sqlite3_close(db_); }

  Outcome Query(const std::string& sql) override {
    Outcome out;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) !=
        SQLITE_OK) {
      out.failed = true;
      out.error = sqlite3_errmsg(db_);
      return out;
    }
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
      out.names.push_back(sqlite3_column_name(stmt, i));
      out.families.push_back(FamilyOfSqliteDeclared(sqlite3_column_decltype(stmt, i)));
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::vector<Cell> row;
      for (int i = 0; i < n; ++i) {
        if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
          row.emplace_back();
          continue;
        }
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        row.emplace_back(std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
      }
      out.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
      out.failed = true;
      out.error = sqlite3_errmsg(db_);
    }
    sqlite3_finalize(stmt);
    return out;
  }

  std::string Exec(const std::string& sql) override {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return "";
    std::string error = message ? message : "failed";
    sqlite3_free(message);
    return error;
  }

 private:
  sqlite3* db_ = nullptr;
};

class PgSession : public Session {
 public:
  explicit PgSession(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string message = PQerrorMessage(conn_);
      PQfinish(conn_);
      throw std::runtime_error("PQconnectdb: " + message);
    }
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
  }
  ~PgSession() override { PQfinish(conn_); }

  Outcome Query(const std::string& sql) override {
    Outcome out;
    PGresult* r = PQexec(conn_, sql.c_str());
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
      out.failed = true;
      out.error = PQresultErrorMessage(r);
      while (!out.error.empty() && out.error.back() == '\n') out.error.pop_back();
      PQclear(r);
      return out;
    }
    const int n = PQnfields(r);
    for (int i = 0; i < n; ++i) {
      out.names.push_back(PQfname(r, i));
      out.families.push_back(FamilyOfPgType(PQftype(r, i)));
    }
    for (int row = 0; row < PQntuples(r); ++row) {
      std::vector<Cell> cells;
      for (int i = 0; i < n; ++i) {
        if (PQgetisnull(r, row, i)) {
          cells.emplace_back();
        } else {
          cells.emplace_back(
              std::string(PQgetvalue(r, row, i), static_cast<size_t>(PQgetlength(r, row, i))));
        }
      }
      out.rows.push_back(std::move(cells));
    }
    PQclear(r);
    return out;
  }

  std::string Exec(const std::string& sql) override {
    PGresult* r = PQexec(conn_, sql.c_str());
    const ExecStatusType status = PQresultStatus(r);
    std::string error;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      error = PQresultErrorMessage(r);
      if (error.empty()) error = "failed";
    }
    PQclear(r);
    return error;
  }

 private:
  PGconn* conn_;
};

std::string Hex(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) out += fmt::format("{:02x}", c);
  return out;
}

// A server value in the canonical form of its family (outcome.h).
std::string ServerCell(TField field, Family family) {
  switch (family) {
    case Family::kInteger:
      return std::to_string(field.AsLargeInt());
    case Family::kFloat4:
    case Family::kFloat:
      return fmt::format("{}", field.AsFloat());
    case Family::kBool:
      return field.AsBoolean() ? "1" : "0";
    case Family::kDate:
      return FormatDateTimeText(field.AsFloat(), DateTimeForm::kDate);
    case Family::kTime:
      return FormatDateTimeText(field.AsFloat(), DateTimeForm::kMilliseconds).substr(11);
    case Family::kDateTime:
      return FormatDateTimeText(field.AsFloat(), DateTimeForm::kMilliseconds);
    case Family::kBlob:
      return Hex(field.AsString());
    default:
      return field.AsString();
  }
}

class ServerSession : public Session {
 public:
  ServerSession(uint16_t port, const std::string& user, const std::string& password) {
    client_.Connect("127.0.0.1", port, user, password);
  }

  Outcome Query(const std::string& sql) override {
    Outcome out;
    std::string error;
    const OleVariant packet = client_.SQL2OleVariant(sql, error);
    if (!error.empty()) {
      out.failed = true;
      out.error = error;
      return out;
    }
    TFDMemTable table;
    ReadResultPacket(packet, table);
    for (int i = 0; i < table.FieldCount(); ++i) {
      const TFieldDef& def = table.FieldDefs()[i];
      out.names.push_back(def.Name);
      out.families.push_back(FamilyOfFieldType(def.DataType));
    }
    for (table.First(); !table.Eof(); table.Next()) {
      std::vector<Cell> row;
      for (int i = 0; i < table.FieldCount(); ++i) {
        TField field = table.Fields(i);
        if (field.IsNull()) {
          row.emplace_back();
        } else {
          row.emplace_back(ServerCell(field, out.families[static_cast<size_t>(i)]));
        }
      }
      out.rows.push_back(std::move(row));
    }
    return out;
  }

  std::string Exec(const std::string& sql) override {
    std::string error;
    client_.ExecSQL(sql, error);
    return error;
  }

 private:
  TVelmoraClient client_;
};

}  // namespace

void WriteServerDatabase(const std::string& folder, const std::string& lines) {
  std::string text;
  for (const char c : lines) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
  self_host::WriteFile(folder + "/DataBase.CFG", text + "\r\n");
}

std::unique_ptr<Session> OpenSqliteSession(const std::string& path) {
  return std::make_unique<SqliteSession>(path);
}

std::unique_ptr<Session> OpenPgSession(const std::string& conninfo) {
  return std::make_unique<PgSession>(conninfo);
}

std::unique_ptr<Session> OpenServerSession(uint16_t port, const std::string& user,
                                           const std::string& password) {
  return std::make_unique<ServerSession>(port, user, password);
}

}  // namespace velmora::test::differential
