// Two clients of the real program on PostgreSQL, served one after the other by the same pooled
// connection: what the first changes in its session (settings, role, temporary objects, prepared
// statements, LISTEN, session locks) never reaches the second.
#include <string>

#include "client/velmora_client.h"
#include "codec/packets.h"
#include "common/service_defaults.h"
#include "data/mem_table.h"
#include "tests/db/pg/pg_program_fixture.h"

namespace velmora::test {
namespace {

class PgSessionState : public PgEndToEnd {
 protected:
  void SetUp() override {
    PgEndToEnd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (TVelmoraClient* client : {&first_, &next_}) {
      client->Connect("127.0.0.1", static_cast<uint16_t>(port_), std::string(kDefaultUserName),
                      std::string(kDefaultPassword));
    }
  }

  // The first value of `sql`'s first row, as `client` gets it (or the call's error).
  static std::string Ask(TVelmoraClient& client, const std::string& sql) {
    std::string err;
    const OleVariant packet = client.SQL2OleVariant(sql, err);
    if (!err.empty()) return "error: " + err;
    TFDMemTable rows;
    ReadResultPacket(packet, rows);
    return rows.Fields(0).AsString();
  }

  TVelmoraClient first_;
  TVelmoraClient next_;
};

TEST_F(PgSessionState, OneClientsSessionChangesNeverReachTheNext) {
  struct Case {
    bool exec;  // ExecSQL, else SQL2OleVariant
    const char* change;
    const char* look;  // what the next client asks
  };
  const Case cases[] = {
      {true, "SET standard_conforming_strings = off", "SHOW standard_conforming_strings"},
      {true, "SET DateStyle = 'German, DMY'", "SELECT CAST(DATE '2024-01-02' AS text)"},
      {false, "SELECT set_config('TimeZone', 'Asia/Tokyo', false)", "SHOW TimeZone"},
      {true, "SET search_path TO pg_catalog", "SHOW search_path"},
      {true, "SET ROLE pg_read_all_data", "SELECT current_user"},
      {true, "CREATE TEMP TABLE left_behind (i int)",
       "SELECT count(*) FROM pg_tables WHERE tablename = 'left_behind'"},
      {true, "PREPARE left_behind AS SELECT 1",
       "SELECT count(*) FROM pg_prepared_statements WHERE name = 'left_behind'"},
      {true, "LISTEN left_behind", "SELECT count(*) FROM pg_listening_channels()"},
      {false, "SELECT pg_advisory_lock(42) IS NULL",
       "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND"
       " pid = pg_backend_pid()"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    // The pid shows both clients are served by the one pooled connection.
    const std::string pid = Ask(next_, "SELECT pg_backend_pid()");
    const std::string before = Ask(next_, c.look);
    std::string err;
    if (c.exec) {
      first_.ExecSQL(c.change, err);
    } else {
      first_.SQL2OleVariant(c.change, err);
    }
    ASSERT_EQ(err, "");
    EXPECT_EQ(Ask(next_, c.look), before);
    EXPECT_EQ(Ask(next_, "SELECT pg_backend_pid()"), pid);
  }
  // The kept statements went with the resets; texts are kept afresh and answer alike.
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(Ask(first_, "SELECT 7 WHERE 1 = 1"), "7");
    EXPECT_EQ(Ask(next_, "SELECT 8 WHERE 1 = 1"), "8");
  }
}

}  // namespace
}  // namespace velmora::test
