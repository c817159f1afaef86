#include "tools/self_host/fixture_db.h"

#include <fmt/core.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace velmora::self_host {
namespace {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

void Check(sqlite3* db, int rc) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(fmt::format("Fixture database: {}", sqlite3_errmsg(db)));
  }
}

void Exec(sqlite3* db, const char* sql) {
  Check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

constexpr const char* kSchema = R"sql(
CREATE TABLE ALL_TYPES (
  ID INTEGER PRIMARY KEY,
  C_INT INT, C_BIGINT BIGINT, C_SMALLINT SMALLINT, C_TINYINT TINYINT, C_BOOL BOOLEAN,
  C_REAL REAL, C_DOUBLE DOUBLE, C_FLOAT FLOAT, C_DECIMAL DECIMAL(12,2), C_NUMERIC NUMERIC(18,4),
  C_MONEY MONEY, C_VARCHAR VARCHAR(40), C_NVARCHAR NVARCHAR(20), C_CHAR CHAR(10), C_TEXT TEXT,
  C_CLOB CLOB, C_BLOB BLOB, C_DATE DATE, C_TIME TIME, C_DATETIME DATETIME,
  C_TIMESTAMP TIMESTAMP, C_GUID GUID);
INSERT INTO ALL_TYPES VALUES (1, 2147483647, 9007199254740993, 32767, 255, 1,
  1.5, 2.25, -0.125, 1234567890.12, 12345678901234.5678, 922337203685.4775, 'plain text',
  'nvarchar', 'fixed', 'long text', 'clob text', X'00010203FF', '2024-03-05', '13:45:30',
  '2024-03-05 13:45:30', '1999-12-31 23:59:59.123', '{6F9619FF-8B86-D011-B42D-00C04FC964FF}');
INSERT INTO ALL_TYPES VALUES (2, -2147483648, -9007199254740993, -32768, 0, 0,
  -1e300, 5e-324, 3.0, -0.01, -0.0001, -12.5, '中文文本 äöü 😀', 'Ωμέγα', 'ñ', '多行
文本', '', X'000000', '1899-12-30', '00:00:00.5', '1900-01-01 00:00:00', '2100-02-28 12:00:00',
  '{00000000-0000-0000-0000-000000000000}');
INSERT INTO ALL_TYPES (ID) VALUES (3);
CREATE TABLE BIG_TABLE (
  ID INTEGER PRIMARY KEY, NAME VARCHAR(40) NOT NULL, AMOUNT DECIMAL(12,2), PRICE REAL,
  CREATED DATETIME, NOTE TEXT, FLAG BOOLEAN, DATA BLOB);
)sql";

}  // namespace

std::string FixtureName(int id) {
  return id % 10 == 0 ? fmt::format("名称 {} ü", id) : fmt::format("Name {}", id);
}

void CreateFixtureDatabase(const std::string& path, int rows) {
  std::remove(path.c_str());
  std::remove((path + "-wal").c_str());
  std::remove((path + "-shm").c_str());
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open(path.c_str(), &raw);
  std::unique_ptr<sqlite3, DbCloser> db(raw);
  Check(raw, rc);
  Exec(raw, "PRAGMA journal_mode=WAL");
  Exec(raw, "BEGIN");
  Exec(raw, kSchema);

  sqlite3_stmt* stmt_raw = nullptr;
  Check(raw, sqlite3_prepare_v2(raw, "INSERT INTO BIG_TABLE VALUES (?, ?, ?, ?, ?, ?, ?, ?)", -1,
                                &stmt_raw, nullptr));
  std::unique_ptr<sqlite3_stmt, StmtFinalizer> stmt(stmt_raw);
  for (int id = 1; id <= rows; ++id) {
    sqlite3_stmt* s = stmt.get();
    const std::string name = FixtureName(id);
    const std::string created = fmt::format("20{:02}-{:02}-{:02} {:02}:{:02}:{:02}", id % 30,
                                            id % 12 + 1, id % 28 + 1, id % 24, id % 60, id % 59);
    const std::string note = fmt::format("Note for row {} with some text to carry", id);
    unsigned char data[16];
    for (int k = 0; k < 16; ++k) data[k] = static_cast<unsigned char>(id * 7 + k);
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_text(s, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(s, 3, (id * 125 % 100000) / 100.0);
    sqlite3_bind_double(s, 4, id * 0.5);
    sqlite3_bind_text(s, 5, created.c_str(), -1, SQLITE_TRANSIENT);
    if (id % 7 == 0) {
      sqlite3_bind_null(s, 6);
    } else {
      sqlite3_bind_text(s, 6, note.c_str(), -1, SQLITE_TRANSIENT);
    }
    sqlite3_bind_int(s, 7, id % 2);
    if (id % 5 == 0) {
      sqlite3_bind_blob(s, 8, data, sizeof data, SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_null(s, 8);
    }
    Check(raw, sqlite3_step(s));
    sqlite3_reset(s);
  }
  stmt.reset();
  Exec(raw, "COMMIT");
}

}  // namespace velmora::self_host
