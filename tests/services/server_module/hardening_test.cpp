// The database paths of the SQL methods under hostile or broken input: NUL in SQL text, a
// database file deleted under the server, a batch that leaves a transaction open, statements the
// engine rolls back itself, a runaway statement and a call whose client went away.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec/packets.h"
#include "common/call_stop.h"
#include "common/log_sink.h"
#include "common/server_limits.h"
#include "db/core/statement_stop.h"
#include "services/uServerModule.h"
#include "tests/support/server_fixture.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
using Hardening = ServerFixture;

constexpr const char* kRunaway =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT COUNT(*) FROM c";

// ErrMsg of `method` called with `sql` (UpdateSQL: as a batch packet).
std::string ErrMsgOf(TDSClientChannel& channel, const std::string& method, const std::string& sql) {
  if (method == "SQL2OleVariant") return ServerFixture::Sql(channel, sql).second;
  if (method == "ExecSQL") return ServerFixture::Exec(channel, method, OleVariant(sql));
  return ServerFixture::Exec(channel, method, CompressToPacket(sql));
}

// Collects what the server logs while it lives.
class LogCapture {
 public:
  LogCapture() {
    SetLogSink([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~LogCapture() { SetLogSink(nullptr); }
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST_F(Hardening, NulInSqlTextComesBackInErrMsgAndTheNextWriteSucceeds) {
  auto client = Connect();
  const std::string texts[] = {"SELECT 1;\0"s, "DELETE FROM BIG_TABLE;\0SELECT 1"s, "\0"s};
  int next_id = 1000;
  for (const char* method : {"SQL2OleVariant", "ExecSQL", "UpdateSQL"}) {
    for (const std::string& text : texts) {
      SCOPED_TRACE(std::string(method) + " " + ::testing::PrintToString(text));
      const auto start = Clock::now();
      const std::string err = ErrMsgOf(*client, method, text);
      EXPECT_LT(Clock::now() - start, 1s);
      EXPECT_NE(err.find("NUL character at byte"), std::string::npos) << err;
      const std::string insert =
          "INSERT INTO BIG_TABLE (ID, NAME) VALUES (" + std::to_string(++next_id) + ", 'n')";
      EXPECT_EQ(ErrMsgOf(*client, "ExecSQL", insert), "");
    }
  }
  EXPECT_EQ(
      Load(Sql(*client, "SELECT COUNT(*) AS N FROM BIG_TABLE").first)->FieldByName("N").AsInteger(),
      kBigRows + 9);
  ExpectAllGivenBack();
}

// The database file goes while the server runs: writes fail with the driver's message (also in
// the log) instead of being acknowledged, and no new empty database takes its place.
TEST_F(Hardening, ADeletedDatabaseFileFailsWrites) {
  LogCapture log;
  auto client = Connect();
  ASSERT_EQ(ErrMsgOf(*client, "ExecSQL", "UPDATE BIG_TABLE SET NAME = 'x' WHERE ID = 1"), "");
  const std::string path = dir_.File("test.db");
  std::filesystem::remove(path);
  const std::string expected = "unable to open database file: " + path;
  for (const char* method : {"ExecSQL", "UpdateSQL"}) {
    SCOPED_TRACE(method);
    EXPECT_EQ(ErrMsgOf(*client, method, "INSERT INTO BIG_TABLE (ID, NAME) VALUES (500, 'lost')"),
              expected);
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  const std::vector<std::string> lines = log.Lines();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "Database connection could not be opened: " + expected),
      lines.end());
  ExpectAllGivenBack();
}

TEST_F(Hardening, APooledConnectionNeverComesBackInsideATransaction) {
  auto client = Connect();
  struct Case {
    const char* batch;
    std::string err;
  };
  const Case cases[] = {
      {"BEGIN;\nDELETE FROM BIG_TABLE", kBatchLeftTransactionMessage},
      {"BEGIN;\nDELETE FROM BIG_TABLE;\nSELECT * FROM NO_SUCH_TABLE",
       "no such table: NO_SUCH_TABLE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    EXPECT_EQ(ErrMsgOf(*client, "UpdateSQL", c.batch), c.err);
    for (size_t i = 0; i < FDConnectionPool()->Count(); ++i) {
      EXPECT_FALSE(FDConnectionPool()->Item(i)->InTransaction());
    }
    EXPECT_EQ(ErrMsgOf(*client, "ExecSQL", "UPDATE BIG_TABLE SET NAME = 'y' WHERE ID = 2"), "");
    auto [packet, err] = Sql(*client, "SELECT COUNT(*) AS N FROM BIG_TABLE");
    ASSERT_EQ(err, "");
    EXPECT_EQ(Load(packet)->FieldByName("N").AsInteger(), kBigRows);
  }
  ExpectAllGivenBack();
}

TEST_F(Hardening, AStatementTheEngineRolledBackGivesItsMessage) {
  auto client = Connect();
  ASSERT_EQ(ErrMsgOf(*client, "ExecSQL",
                     "CREATE TRIGGER NO_BIG BEFORE DELETE ON BIG_TABLE "
                     "BEGIN SELECT RAISE(ROLLBACK, 'rows stay'); END"),
            "");
  const std::pair<const char*, const char*> cases[] = {
      {"INSERT OR ROLLBACK INTO BIG_TABLE (ID, NAME) VALUES (1, 'twice')",
       "UNIQUE constraint failed: BIG_TABLE.ID"},
      {"DELETE FROM BIG_TABLE WHERE ID = 3", "rows stay"},
  };
  for (const auto& [sql, message] : cases) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(ErrMsgOf(*client, "ExecSQL", sql), message);
  }
  EXPECT_EQ(ErrMsgOf(*client, "ExecSQL", "UPDATE BIG_TABLE SET NAME = 'z' WHERE ID = 3"), "");
  ExpectAllGivenBack();
}

TEST_F(Hardening, ARunawayStatementStopsAtTheTimeOut) {
  const ServerLimits saved = Limits();
  ServerLimits limits = saved;
  limits.StatementTimeout = 1s;
  SetServerLimits(limits);
  auto client = Connect();
  for (const char* method : {"SQL2OleVariant", "ExecSQL", "UpdateSQL"}) {
    SCOPED_TRACE(method);
    const auto start = Clock::now();
    EXPECT_EQ(ErrMsgOf(*client, method, kRunaway),
              "Statement stopped: it ran longer than the statement time-out of 1 s");
    EXPECT_LT(Clock::now() - start, 5s);
  }
  SetServerLimits(saved);
  ExpectAllGivenBack();
}

// The call's cancellation, raised from another thread while the method runs (or before it takes
// its connection), interrupts the statement on the call's connection; the connection goes back
// clean.
TEST_F(Hardening, CancellingTheCallInterruptsItsStatement) {
  for (const bool before : {false, true}) {
    for (const std::string method : {"SQL2OleVariant", "ExecSQL"}) {
      SCOPED_TRACE(method + (before ? ", cancelled before the call" : ", cancelled during it"));
      std::stop_source cancel;
      if (before) cancel.request_stop();
      std::thread transport([&cancel] {
        std::this_thread::sleep_for(300ms);
        cancel.request_stop();
      });
      std::string err;
      {
        CallStopScope scope(cancel.get_token());
        TServerModule1 module;
        method == "ExecSQL" ? module.ExecSQL(kRunaway, err)
                            : (void)module.SQL2OleVariant(kRunaway, err);
      }
      transport.join();
      EXPECT_EQ(err, kStatementCancelledMessage);
      ExpectAllGivenBack();
      EXPECT_FALSE(FDConnectionPool()->Item(0)->Interrupted());
    }
  }
  auto client = Connect();
  EXPECT_EQ(ErrMsgOf(*client, "ExecSQL", "UPDATE BIG_TABLE SET NAME = 'w' WHERE ID = 4"), "");
}

}  // namespace
}  // namespace velmora::test
