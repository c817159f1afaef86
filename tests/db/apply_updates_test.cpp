#include <gtest/gtest.h>

#include "db/core/db_error.h"
#include "db/core/query.h"
#include "tests/db/sqlite_test_support.h"

namespace velmora::test {
namespace {

// A client's round trip: open, save, load elsewhere with the change log on, edit, save the delta,
// load it into a fresh query and apply it.
class ApplyUpdatesTest : public SQLiteTest {
 protected:
  void LoadForEditing(const std::string& sql, TFDQuery& client) {
    query_.SQL().SetText(sql);
    query_.Open();
    TMemoryStream s;
    query_.SaveToStream(s, sfAuto);
    query_.Close();
    s.SetPosition(0);
    client.LoadFromStream(s, sfAuto);
    client.SetCachedUpdates(true);
  }

  // Loads the client's delta into `server` (as the server does) and applies it.
  int Apply(TFDQuery& client, TFDQuery& server, const std::string& table) {
    TMemoryStream delta;
    client.SaveToStream(delta, sfAuto);
    delta.SetPosition(0);
    server.SetConnection(&connection_);
    server.UpdateOptions.UpdateTableName = table;
    server.LoadFromStream(delta, sfAuto);
    EXPECT_TRUE(server.CachedUpdates());
    return server.ApplyUpdates(-1);
  }

  std::vector<std::string> Errors(TFDQuery& server) {
    std::vector<std::string> out;
    server.FilterChanges({rtModified, rtInserted, rtDeleted, rtHasErrors});
    for (server.First(); !server.Eof(); server.Next()) {
      if (server.RowError() != nullptr) out.push_back(server.RowError()->Message);
    }
    server.FilterChanges({rtModified, rtInserted, rtUnmodified});
    return out;
  }
};

TEST_F(ApplyUpdatesTest, InsertedModifiedAndDeletedRowsReachTheTable) {
  TFDQuery client;
  LoadForEditing("SELECT * FROM BIG_TABLE WHERE ID <= 5 ORDER BY ID", client);
  client.Locate("ID", int64_t{2});
  client.Edit();
  client.FieldByName("NAME") = OleVariant("renamed 'quoted' 名");
  client.FieldByName("NOTE").Clear();
  client.Post();
  client.Locate("ID", int64_t{3});
  client.Delete();
  client.Append();
  client.FieldByName("ID") = OleVariant(int64_t{1000});
  client.FieldByName("NAME") = OleVariant("new row");
  client.FieldByName("AMOUNT") = OleVariant(BcdValue{"12.34", 12, 2});
  client.FieldByName("DATA") = OleVariant::Bytes(std::string("\0\x01", 2));
  client.Post();

  TFDQuery server;
  EXPECT_EQ(Apply(client, server, "BIG_TABLE"), 0);
  EXPECT_TRUE(Errors(server).empty());
  EXPECT_EQ(Scalar("SELECT NAME || '|' || ifnull(NOTE, 'null') FROM BIG_TABLE WHERE ID = 2"),
            "renamed 'quoted' 名|null");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BIG_TABLE WHERE ID = 3"), "0");
  EXPECT_EQ(
      Scalar("SELECT NAME || '|' || AMOUNT || '|' || hex(DATA) FROM BIG_TABLE WHERE ID = 1000"),
      "new row|12.34|0001");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BIG_TABLE"), "50");
}

TEST_F(ApplyUpdatesTest, RefusedRowsCarryTheEngineMessageAndTheOthersApply) {
  TFDQuery client;
  LoadForEditing("SELECT ID, NAME FROM BIG_TABLE WHERE ID <= 3 ORDER BY ID", client);
  client.Append();  // duplicate key
  client.FieldByName("ID") = OleVariant(int64_t{1});
  client.FieldByName("NAME") = OleVariant("dup");
  client.Post();
  client.Locate("ID", int64_t{2});
  client.Edit();
  client.FieldByName("NAME") = OleVariant("ok");
  client.Post();
  client.Locate("ID", int64_t{3});
  client.Delete();
  Exec("DELETE FROM BIG_TABLE WHERE ID = 3");  // someone else got there first

  TFDQuery server;
  EXPECT_EQ(Apply(client, server, "BIG_TABLE"), 2);
  const std::vector<std::string> errors = Errors(server);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[0].find("Delete of a row of [BIG_TABLE] affected 0 rows"), std::string::npos)
      << errors[0];
  EXPECT_EQ(errors[1], "UNIQUE constraint failed: BIG_TABLE.ID");
  EXPECT_EQ(Scalar("SELECT NAME FROM BIG_TABLE WHERE ID = 2"), "ok");
}

TEST_F(ApplyUpdatesTest, WrongTableFailsEveryChangeAndMaxErrorsStopsEarly) {
  TFDQuery client;
  LoadForEditing("SELECT ID, NAME FROM BIG_TABLE WHERE ID <= 3 ORDER BY ID", client);
  for (int64_t id : {1, 2, 3}) {
    client.Locate("ID", id);
    client.Edit();
    client.FieldByName("NAME") = OleVariant("x");
    client.Post();
  }
  TFDQuery server;
  EXPECT_EQ(Apply(client, server, "NO_SUCH_TABLE"), 3);
  EXPECT_EQ(Errors(server), std::vector<std::string>(3, "no such table: NO_SUCH_TABLE"));

  TFDQuery limited;
  limited.SetConnection(&connection_);
  TMemoryStream delta;
  client.SaveToStream(delta, sfAuto);
  delta.SetPosition(0);
  limited.LoadFromStream(delta, sfAuto);
  limited.UpdateOptions.UpdateTableName = "NO_SUCH_TABLE";
  EXPECT_EQ(limited.ApplyUpdates(0), 1);
}

TEST_F(ApplyUpdatesTest, WithoutKeysTheOriginalValuesFindTheRowAndAmbiguityIsUndone) {
  Exec(
      "CREATE TABLE NOKEY (A INT, B VARCHAR(10), C BLOB);"
      "INSERT INTO NOKEY VALUES (1, 'one', X'01'), (2, NULL, X'02'), (3, 'same', NULL), (3, "
      "'same', NULL)");
  TFDQuery client;
  LoadForEditing("SELECT * FROM NOKEY ORDER BY A", client);
  client.Locate("A", int32_t{2});  // matched through "B IS NULL"
  client.Edit();
  client.FieldByName("B") = OleVariant("two");
  client.Post();
  client.Locate("A", int32_t{3});  // two identical rows: the update must not touch both
  client.Edit();
  client.FieldByName("B") = OleVariant("changed");
  client.Post();

  TFDQuery server;
  EXPECT_EQ(Apply(client, server, "NOKEY"), 1);
  EXPECT_EQ(Scalar("SELECT B FROM NOKEY WHERE A = 2"), "two");
  EXPECT_EQ(Scalar("SELECT group_concat(B) FROM NOKEY WHERE A = 3"), "same,same");
  const std::vector<std::string> errors = Errors(server);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Update of a row of [NOKEY] affected 2 rows instead of 1");
}

}  // namespace
}  // namespace velmora::test
