// ApplyUpdates runs a delta in one transaction with savepoints; these cases check that grouping
// never changes what is applied: refused rows undo only themselves, and a transaction the engine
// ends on its own (a conflict clause that says ROLLBACK, RAISE(ROLLBACK), a deferred constraint
// at commit) leads to every change applied again alone, never to accepted rows that are gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/core/db_error.h"
#include "db/core/query.h"
#include "tests/db/sqlite_test_support.h"

namespace velmora::test {
namespace {

class ApplyGroupingTest : public SQLiteTest {
 protected:
  // Opens `sql` as a client would have it: its rows loaded with the change log on.
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

  // Loads the client's delta into `server`, applies it and returns the refused rows' messages in
  // the order of the rows.
  std::vector<std::string> Apply(TFDQuery& client, TFDQuery& server, const std::string& table,
                                 int expected_errors) {
    TMemoryStream delta;
    client.SaveToStream(delta, sfAuto);
    delta.SetPosition(0);
    server.SetConnection(&connection_);
    server.UpdateOptions.UpdateTableName = table;
    server.LoadFromStream(delta, sfAuto);
    EXPECT_EQ(server.ApplyUpdates(-1), expected_errors);
    std::vector<std::string> out;
    server.FilterChanges({rtModified, rtInserted, rtDeleted, rtHasErrors});
    for (server.First(); !server.Eof(); server.Next()) {
      if (server.RowError() != nullptr) out.push_back(server.RowError()->Message);
    }
    server.FilterChanges({rtModified, rtInserted, rtUnmodified});
    EXPECT_FALSE(connection_.InTransaction());
    return out;
  }

  void SetName(TFDQuery& client, int64_t id, const std::string& name) {
    ASSERT_TRUE(client.Locate("ID", id));
    client.Edit();
    client.FieldByName("NAME") = OleVariant(name);
    client.Post();
  }

  void InsertRow(TFDQuery& client, int64_t id, const std::string& code, const std::string& name) {
    client.Append();
    client.FieldByName("ID") = OleVariant(id);
    client.FieldByName("CODE") = OleVariant(code);
    client.FieldByName("NAME") = OleVariant(name);
    client.Post();
  }
};

// A table whose unique constraint rolls back the whole transaction, and one whose trigger does:
// the row before and the row after the offending one stay applied.
TEST_F(ApplyGroupingTest, EngineRollbackOfTheWholeTransactionLosesNoAcceptedRow) {
  struct Case {
    const char* what;
    const char* ddl;
    const char* message;
  };
  const Case cases[] = {
      {"ON CONFLICT ROLLBACK",
       "CREATE TABLE RB (ID INTEGER PRIMARY KEY, CODE TEXT UNIQUE ON CONFLICT ROLLBACK, NAME "
       "TEXT)",
       "UNIQUE constraint failed: RB.CODE"},
      {"RAISE(ROLLBACK)",
       "CREATE TABLE RB (ID INTEGER PRIMARY KEY, CODE TEXT, NAME TEXT);"
       "CREATE TRIGGER RB_NO_DUP BEFORE INSERT ON RB WHEN EXISTS (SELECT 1 FROM RB WHERE CODE = "
       "NEW.CODE) BEGIN SELECT RAISE(ROLLBACK, 'duplicate code'); END",
       "duplicate code"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Exec("DROP TABLE IF EXISTS RB");
    Exec(c.ddl);
    Exec("INSERT INTO RB VALUES (1, 'a', 'one'), (2, 'b', 'two'), (3, 'c', 'three')");
    TFDQuery client;
    LoadForEditing("SELECT ID, CODE, NAME FROM RB ORDER BY ID", client);
    SetName(client, 1, "first");
    InsertRow(client, 10, "b", "duplicate");  // the engine ends the transaction here
    InsertRow(client, 11, "z", "new");
    SetName(client, 3, "third");
    TFDQuery server;
    EXPECT_EQ(Apply(client, server, "RB", 1), std::vector<std::string>{c.message});
    EXPECT_EQ(Scalar("SELECT group_concat(ID || ':' || NAME, ' ') FROM (SELECT * FROM RB ORDER BY "
                     "ID)"),
              "1:first 2:two 3:third 11:new");
  }
}

// Many rows (several savepoint chunks), with a refused insert and an ambiguous update in the
// middle: those two are undone alone, every other change stays.
TEST_F(ApplyGroupingTest, RefusedRowsInsideLargeDeltaUndoOnlyThemselves) {
  Exec("CREATE TABLE T (ID INTEGER PRIMARY KEY, CODE TEXT UNIQUE, NAME TEXT)");
  Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 700) "
      "INSERT INTO T SELECT i, 'c' || i, 'n' || i FROM n");
  Exec("CREATE TABLE LOOSE (ID INTEGER, NAME TEXT)");
  Exec("INSERT INTO LOOSE VALUES (1, 'x'), (1, 'x')");
  TFDQuery client;
  LoadForEditing("SELECT ID, CODE, NAME FROM T ORDER BY ID", client);
  for (int64_t id = 1; id <= 700; ++id) SetName(client, id, "m" + std::to_string(id));
  ASSERT_TRUE(client.Locate("ID", int64_t{300}));
  client.Edit();
  client.FieldByName("CODE") = OleVariant("c301");  // taken by row 301
  client.Post();
  InsertRow(client, 900, "c900", "new");
  TFDQuery server;
  const std::vector<std::string> errors = Apply(client, server, "T", 1);
  EXPECT_EQ(errors, std::vector<std::string>{"UNIQUE constraint failed: T.CODE"});
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM T WHERE NAME = 'm' || ID"), "699");
  EXPECT_EQ(Scalar("SELECT NAME || CODE FROM T WHERE ID = 300"), "n300c300");
  EXPECT_EQ(Scalar("SELECT NAME FROM T WHERE ID = 900"), "new");

  // Without keys two identical rows make the update ambiguous; it is refused and undone.
  TFDQuery loose;
  LoadForEditing("SELECT ID, NAME FROM LOOSE", loose);
  loose.First();
  loose.Edit();
  loose.FieldByName("NAME") = OleVariant("y");
  loose.Post();
  TFDQuery loose_server;
  EXPECT_EQ(Apply(loose, loose_server, "LOOSE", 1),
            std::vector<std::string>{"Update of a row of [LOOSE] affected 2 rows instead of 1"});
  EXPECT_EQ(Scalar("SELECT group_concat(NAME) FROM LOOSE"), "x,x");
}

// A deferred foreign key fails only at commit; the whole transaction is gone then, and applying
// each change alone finds the one that is refused.
TEST_F(ApplyGroupingTest, ConstraintRefusedAtCommitIsFoundRowByRow) {
  Exec("CREATE TABLE P (ID INTEGER PRIMARY KEY)");
  Exec("INSERT INTO P VALUES (1), (2)");
  Exec(
      "CREATE TABLE C (ID INTEGER PRIMARY KEY, CODE TEXT, NAME TEXT, P_ID INTEGER REFERENCES "
      "P(ID) DEFERRABLE INITIALLY DEFERRED)");
  Exec("INSERT INTO C VALUES (1, 'a', 'one', 1)");
  TFDQuery client;
  LoadForEditing("SELECT ID, CODE, NAME, P_ID FROM C", client);
  for (int64_t id : {2, 3, 4}) {
    InsertRow(client, id, "k", "child");
    client.Last();
    client.Edit();
    client.FieldByName("P_ID") = OleVariant(id == 3 ? int64_t{99} : int64_t{2});
    client.Post();
  }
  TFDQuery server;
  EXPECT_EQ(Apply(client, server, "C", 1),
            std::vector<std::string>{"FOREIGN KEY constraint failed"});
  EXPECT_EQ(Scalar("SELECT group_concat(ID) FROM (SELECT ID FROM C ORDER BY ID)"), "1,2,4");
}

// Inside a transaction the caller began, changes run under savepoints and are not committed; an
// engine that ends that transaction makes the apply raise, since the caller's work is gone too.
TEST_F(ApplyGroupingTest, CallersTransactionIsKeptOrItsLossRaises) {
  Exec(
      "CREATE TABLE RB (ID INTEGER PRIMARY KEY, CODE TEXT UNIQUE ON CONFLICT ROLLBACK, NAME TEXT)");
  Exec("INSERT INTO RB VALUES (1, 'a', 'one'), (2, 'b', 'two')");
  {
    TFDQuery client;
    LoadForEditing("SELECT ID, CODE, NAME FROM RB", client);
    SetName(client, 1, "kept open");
    TMemoryStream delta;
    client.SaveToStream(delta, sfAuto);
    delta.SetPosition(0);
    TFDQuery server;
    server.SetConnection(&connection_);
    server.UpdateOptions.UpdateTableName = "RB";
    server.LoadFromStream(delta, sfAuto);
    connection_.StartTransaction();
    EXPECT_EQ(server.ApplyUpdates(-1), 0);
    EXPECT_TRUE(connection_.InTransaction());
    connection_.Rollback();
    EXPECT_EQ(Scalar("SELECT NAME FROM RB WHERE ID = 1"), "one");
  }
  TFDQuery client;
  LoadForEditing("SELECT ID, CODE, NAME FROM RB", client);
  InsertRow(client, 3, "a", "dup");
  TMemoryStream delta;
  client.SaveToStream(delta, sfAuto);
  delta.SetPosition(0);
  TFDQuery server;
  server.SetConnection(&connection_);
  server.UpdateOptions.UpdateTableName = "RB";
  server.LoadFromStream(delta, sfAuto);
  connection_.StartTransaction();
  Exec("UPDATE RB SET NAME = 'caller' WHERE ID = 2");
  EXPECT_EQ(ErrorOf([&] { server.ApplyUpdates(-1); }),
            "The database rolled back the transaction while the changes were applied");
  EXPECT_FALSE(connection_.InTransaction());
  EXPECT_EQ(Scalar("SELECT NAME FROM RB WHERE ID = 2"), "two");
}

}  // namespace
}  // namespace velmora::test
