// SQL2OleVariant, ExecSQL, UpdateSQL and GetServerDateTime called over TCP.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "codec/packets.h"
#include "db/core/connection.h"
#include "db/core/query.h"
#include "db/core/text_encoding.h"
#include "dbpool/database_pools.h"
#include "rpc/rpc_errors.h"
#include "services/uServerModule.h"
#include "tests/support/server_fixture.h"
#include "tools/self_host/fixture_db.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

using namespace std::string_literals;
using QueryMethods = ServerFixture;

// NAME of BIG_TABLE row `id`, read through the server.
std::string NameOf(TDSClientChannel& channel, int id) {
  auto [packet, err] =
      ServerFixture::Sql(channel, "SELECT NAME FROM BIG_TABLE WHERE ID = " + std::to_string(id));
  EXPECT_EQ(err, "");
  auto table = ServerFixture::Load(packet);
  EXPECT_EQ(table->RecordCount(), 1);
  return table->FieldByName("NAME").AsString();
}

int CountRows(TDSClientChannel& channel, const std::string& where) {
  auto [packet, err] =
      ServerFixture::Sql(channel, "SELECT COUNT(*) AS N FROM BIG_TABLE WHERE " + where);
  EXPECT_EQ(err, "");
  return ServerFixture::Load(packet)->FieldByName("N").AsInteger();
}

// The message the data-access layer raises for `sql` run on its own connection.
std::string LayerMessage(const std::string& database, const std::string& sql) {
  TFDConnection conn;
  conn.Params().Add("DriverID=SQLite");
  conn.Params().Add("Database=" + database);
  conn.Open();
  TFDQuery query;
  query.SetConnection(&conn);
  query.SQL().SetText(sql);
  try {
    query.ExecSQL();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST_F(QueryMethods, EmptyResultCarriesTheStructure) {
  auto client = Connect();
  auto [packet, err] = Sql(*client, "SELECT ID, NAME, PRICE FROM BIG_TABLE WHERE ID < 0");
  EXPECT_EQ(err, "");
  ASSERT_TRUE(packet.IsByteArray());
  auto table = Load(packet);
  ASSERT_EQ(table->FieldCount(), 3);
  EXPECT_EQ(table->Fields(0).FieldName(), "ID");
  EXPECT_EQ(table->Fields(1).FieldName(), "NAME");
  EXPECT_EQ(table->Fields(2).FieldName(), "PRICE");
  EXPECT_EQ(table->RecordCount(), 0);
  ExpectAllGivenBack();
}

TEST_F(QueryMethods, RowsAndTypesArriveWhole) {
  auto client = Connect();
  auto [packet, err] = Sql(*client, "SELECT ID, NAME, PRICE FROM BIG_TABLE ORDER BY ID");
  EXPECT_EQ(err, "");
  auto table = Load(packet);
  EXPECT_EQ(table->RecordCount(), kBigRows);
  EXPECT_EQ(table->Fields(0).DataType(), ftLargeint);
  EXPECT_EQ(table->Fields(1).DataType(), ftWideString);
  EXPECT_EQ(table->Fields(2).DataType(), ftFloat);
  table->First();
  for (int id = 1; id <= kBigRows; ++id, table->Next()) {
    ASSERT_FALSE(table->Eof());
    EXPECT_EQ(table->Fields(0).AsLargeInt(), id);
    EXPECT_EQ(table->Fields(1).AsString(), self_host::FixtureName(id));
  }

  auto [all_types, err2] = Sql(*client, "SELECT C_NVARCHAR, C_BLOB FROM ALL_TYPES WHERE ID = 2");
  EXPECT_EQ(err2, "");
  auto row = Load(all_types);
  EXPECT_EQ(row->FieldByName("C_NVARCHAR").AsString(), "Ωμέγα");
  EXPECT_EQ(row->FieldByName("C_BLOB").DataType(), ftBlob);
  EXPECT_EQ(row->FieldByName("C_BLOB").AsString(), std::string(3, '\0'));
  ExpectAllGivenBack();
}

TEST_F(QueryMethods, FailedOpenGivesMessageAndTheNextCallWorks) {
  auto client = Connect();
  for (const char* bad : {"SELEC ID FROM BIG_TABLE", "SELECT * FROM NO_SUCH_TABLE",
                          "UPDATE BIG_TABLE SET NAME = 'x' WHERE ID = 0"}) {
    SCOPED_TRACE(bad);
    auto [packet, err] = Sql(*client, bad);
    EXPECT_TRUE(packet.IsEmpty());
    EXPECT_NE(err, "");
    ExpectAllGivenBack();
  }
  auto [packet, err] = Sql(*client, "SELECT ID FROM BIG_TABLE WHERE ID = 7");
  EXPECT_EQ(err, "");
  EXPECT_EQ(Load(packet)->FieldByName("ID").AsInteger(), 7);
  // One client, one call at a time: the same pooled connection and query served every call.
  EXPECT_EQ(FDConnectionPool()->Count(), 1u);
  EXPECT_EQ(FDQueryPool()->Count(), 1u);
  ExpectAllGivenBack();
}

TEST_F(QueryMethods, ExecSqlCommitsOrRollsBackItsOwnTransaction) {
  auto client = Connect();
  EXPECT_EQ(Exec(*client, "ExecSQL", OleVariant("UPDATE BIG_TABLE SET NAME = 'kept' WHERE ID = 3")),
            "");
  EXPECT_EQ(NameOf(*client, 3), "kept");

  // The first statement succeeds, the second breaks the key: the whole call is rolled back.
  const std::string failing = "INSERT INTO BIG_TABLE (ID, NAME) VALUES (1, 'dup')";
  std::string err =
      Exec(*client, "ExecSQL",
           OleVariant("INSERT INTO BIG_TABLE (ID, NAME) VALUES (1000, 'new');\n" + failing));
  EXPECT_EQ(err, LayerMessage(DatabasePath(), failing));
  EXPECT_NE(err, "");
  EXPECT_EQ(CountRows(*client, "ID = 1000"), 0);
  ExpectAllGivenBack();
  EXPECT_FALSE(FDConnectionPool()->Item(0)->InTransaction());
}

TEST_F(QueryMethods, UpdateSqlBatchKeepsWhatRanBeforeTheFailure) {
  auto client = Connect();
  std::string err = Exec(*client, "UpdateSQL",
                         CompressToPacket("UPDATE BIG_TABLE SET NAME = 'first' WHERE ID = 1;\r\n"
                                          "UPDATE BIG_TABLE SET NAME = NULL WHERE ID = 2;\r\n"));
  EXPECT_EQ(err, LayerMessage(DatabasePath(), "UPDATE BIG_TABLE SET NAME = NULL WHERE ID = 2"));
  EXPECT_NE(err, "");
  EXPECT_EQ(NameOf(*client, 1), "first");
  EXPECT_EQ(NameOf(*client, 2), self_host::FixtureName(2));
  ExpectAllGivenBack();
}

TEST_F(QueryMethods, UpdateSqlDecodesByByteOrderMark) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* ansi;  // the ANSI code page in force
    const char* expected;
  };
  const std::string sql = "UPDATE BIG_TABLE SET NAME = 'Grüße 中文' WHERE ID = 4";
  std::string utf16le = "\xFF\xFE";
  for (char32_t c : std::u32string(U"UPDATE BIG_TABLE SET NAME = 'Grüße 中文' WHERE ID = 4")) {
    utf16le.push_back(static_cast<char>(c & 0xFF));
    utf16le.push_back(static_cast<char>(c >> 8));
  }
  const Case cases[] = {
      {"utf-8 with mark", "\xEF\xBB\xBF" + sql, "UTF-8", "Grüße 中文"},
      {"no mark, ANSI is UTF-8", sql, "UTF-8", "Grüße 中文"},
      {"utf-16le with mark", utf16le, "UTF-8", "Grüße 中文"},
      {"no mark, ANSI is Latin-1",
       "UPDATE BIG_TABLE SET NAME = 'Gr\xFC\xDF"
       "e' WHERE ID = 4",
       "ISO-8859-1", "Grüße"},
  };
  auto client = Connect();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetAnsiCodePage(c.ansi);
    EXPECT_EQ(Exec(*client, "UpdateSQL", CompressToPacket(c.bytes)), "");
    SetAnsiCodePage("");
    EXPECT_EQ(NameOf(*client, 4), c.expected);
    EXPECT_EQ(
        Exec(*client, "ExecSQL", OleVariant("UPDATE BIG_TABLE SET NAME = 'reset' WHERE ID = 4")),
        "");
  }
}

TEST(SqlBatchLines, SplitsAtEveryLineBreak) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"a\r\n", {"a"}},
      {"a\n\nb", {"a", "", "b"}},
      {"\xFE\xFF\0a\0\n\0b"s, {"a", "b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SqlBatchLines(c.bytes), c.lines) << c.bytes;
}

TEST_F(QueryMethods, EmptyBatchIsRefusedByTheLayer) {
  auto client = Connect();
  EXPECT_EQ(Exec(*client, "UpdateSQL", OleVariant::Bytes(std::string_view())),
            "Command text is empty");
  EXPECT_EQ(Exec(*client, "UpdateSQL", CompressToPacket("")), "Command text is empty");
  ExpectAllGivenBack();
}

TEST_F(QueryMethods, ParameterMarkersAreRefusedInEverySqlMethod) {
  const std::string expected = "Parameter [ID] data type is unknown";
  auto client = Connect();
  EXPECT_EQ(Sql(*client, "SELECT * FROM BIG_TABLE WHERE ID = :ID").second, expected);
  EXPECT_EQ(Exec(*client, "ExecSQL", OleVariant("DELETE FROM BIG_TABLE WHERE ID = :ID")), expected);
  EXPECT_EQ(Exec(*client, "UpdateSQL", CompressToPacket("DELETE FROM BIG_TABLE WHERE ID = :ID")),
            expected);
  EXPECT_EQ(CountRows(*client, "1 = 1"), kBigRows);
  ExpectAllGivenBack();
}

TEST_F(QueryMethods, UndecodableBatchIsARemoteErrorAndRunsNothing) {
  auto client = Connect();
  const OleVariant bad[] = {
      OleVariant("DELETE FROM BIG_TABLE"), OleVariant::Null(),
      OleVariant::Bytes(std::string_view("DELETE FROM BIG_TABLE")),
      CompressToPacket("DELETE FROM BIG_TABLE -- \xC3\x28")};  // not valid UTF-8
  SetAnsiCodePage("UTF-8");
  for (const OleVariant& arg : bad) {
    SCOPED_TRACE(VarTypeName(arg.VarType()));
    EXPECT_THROW(Call(*client, "UpdateSQL", {arg}), EDSRemoteError);
    ExpectAllGivenBack();
  }
  SetAnsiCodePage("");
  // The connection stays usable after the remote errors, and nothing was deleted.
  EXPECT_EQ(CountRows(*client, "1 = 1"), kBigRows);
}

// The driver's own message, not the pool-exhausted text.
TEST_F(QueryMethods, NoDatabaseGivesAClearMessage) {
  const std::string path = dir_.File("missing-folder/none/test.db");
  WriteDatabaseConfig({"DriverID=SQLite", "Database=" + path});
  auto client = Connect();
  const std::string expected = "unable to open database file: " + path;
  EXPECT_EQ(Sql(*client, "SELECT 1").second, expected);
  EXPECT_EQ(Exec(*client, "ExecSQL", OleVariant("SELECT 1")), expected);
  EXPECT_EQ(Exec(*client, "UpdateSQL", CompressToPacket("SELECT 1")), expected);
  EXPECT_EQ(FDQueryPool()->Count(), 0u);
}

// Each pool waits its time-out (3 s) before it hands out nothing.
TEST_F(QueryMethods, ExhaustedPoolsFailTheCallAndGiveBackWhatWasTaken) {
  auto client = Connect();
  std::vector<TFDQuery*> queries;
  for (int i = 0; i < kDatabasePoolCapacity; ++i) queries.push_back(FDQueryPool()->Lock());
  ASSERT_NE(queries.back(), nullptr);
  // ExecSQL has started its transaction when the query pool fails it: rolled back, given back.
  EXPECT_EQ(Exec(*client, "ExecSQL", OleVariant("DELETE FROM BIG_TABLE")), kNoQueryMessage);
  ASSERT_EQ(FDConnectionPool()->Count(), 1u);
  EXPECT_EQ(FDConnectionPool()->TagOf(FDConnectionPool()->Item(0)), 0);
  EXPECT_FALSE(FDConnectionPool()->Item(0)->InTransaction());
  for (TFDQuery* q : queries) FDQueryPool()->UnLock(q);
  EXPECT_EQ(CountRows(*client, "1 = 1"), kBigRows);

  std::vector<TFDConnection*> connections;
  for (int i = 0; i < kDatabasePoolCapacity; ++i) connections.push_back(FDConnectionPool()->Lock());
  ASSERT_NE(connections.back(), nullptr);
  EXPECT_EQ(Sql(*client, "SELECT 1").second, kNoConnectionMessage);
  for (TFDConnection* c : connections) FDConnectionPool()->Unlock(c);
  ExpectAllGivenBack();
}

TEST_F(QueryMethods, ServerDateTimeFollowsTheClock) {
  auto client = Connect();
  auto start = std::chrono::steady_clock::now();
  OleVariant first = Call(*client, "GetServerDateTime").Result;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  OleVariant second = Call(*client, "GetServerDateTime").Result;
  double elapsed_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(first.VarType(), varDate);
  ASSERT_EQ(second.VarType(), varDate);
  double diff_ms = (second.AsDouble() - first.AsDouble()) * 86'400'000.0;
  EXPECT_GE(diff_ms, 290.0);
  EXPECT_LE(diff_ms, elapsed_ms + 5.0);
  EXPECT_LT(std::fabs(NowAsDateTime() - second.AsDouble()) * 86'400.0, 5.0);
}

}  // namespace
}  // namespace velmora::test
