// SQLite statement reuse: a one-statement text seen again on a session runs its kept statement,
// with results identical to a fresh one's, through schema changes, errors, transactions, VACUUM and
// backups; a kept statement holds no lock or bound value, and none outlives its session.
#include <fmt/core.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/params.h"
#include "db/core/db_error.h"
#include "db/sqlite/sqlite_connection.h"
#include "tests/db/sqlite_test_support.h"

namespace velmora::test {
namespace {

class StatementReuseTest : public SQLiteTest {
 protected:
  TSQLiteConnection& Session() { return dynamic_cast<TSQLiteConnection&>(connection_.Driver()); }

  // Every statement the session has prepared and not finalised.
  std::vector<sqlite3_stmt*> LiveStatements() {
    std::vector<sqlite3_stmt*> live;
    for (sqlite3_stmt* s = sqlite3_next_stmt(Session().Handle(), nullptr); s != nullptr;
         s = sqlite3_next_stmt(Session().Handle(), s)) {
      live.push_back(s);
    }
    return live;
  }

  // The rows of `sql` as text, one "a|b|c" line each, after the field names line.
  std::string Rows(const std::string& sql) {
    TFDQuery q;
    q.SetConnection(&connection_);
    q.SQL().SetText(sql);
    q.Open();
    std::string out;
    for (int i = 0; i < q.FieldCount(); ++i) out += (i ? "|" : "") + q.Fields(i).FieldName();
    for (q.First(); !q.Eof(); q.Next()) {
      out += "\n";
      for (int i = 0; i < q.FieldCount(); ++i) {
        out += (i ? "|" : "") + (q.Fields(i).IsNull() ? "<null>" : q.Fields(i).AsString());
      }
    }
    return out;
  }
};

TEST_F(StatementReuseTest, TextSeenAgainRunsItsKeptStatementResetAndUnbound) {
  const std::string sql = "SELECT ID, NAME FROM BIG_TABLE WHERE ID = :ID";
  std::string first;
  for (int id : {3, 4}) {
    query_.Close();
    query_.SQL().SetText(sql);
    query_.ParamByName("ID").SetValue(OleVariant(int32_t{id}));
    query_.Open();
    ASSERT_EQ(query_.RecordCount(), 1);
    EXPECT_EQ(query_.FieldByName("ID").AsInteger(), id);
    // One kept statement, the same one both times; reset (no read transaction left open) and
    // holding no value of the run.
    const std::vector<sqlite3_stmt*> live = LiveStatements();
    ASSERT_EQ(live.size(), 1u);
    if (first.empty()) first = fmt::format("{}", static_cast<void*>(live[0]));
    EXPECT_EQ(fmt::format("{}", static_cast<void*>(live[0])), first);
    EXPECT_EQ(sqlite3_stmt_busy(live[0]), 0);
    std::unique_ptr<char, decltype(&sqlite3_free)> expanded(sqlite3_expanded_sql(live[0]),
                                                            sqlite3_free);
    EXPECT_STREQ(expanded.get(), "SELECT ID, NAME FROM BIG_TABLE WHERE ID = NULL");
  }
  EXPECT_EQ(Session().Statements().Size(), 1u);
}

TEST_F(StatementReuseTest, KeptSelectStarFollowsSchemaChangesOfAnySession) {
  Exec("CREATE TABLE T (A INTEGER, B VARCHAR(10))");
  Exec("INSERT INTO T VALUES (1, 'x')");
  EXPECT_EQ(Rows("SELECT * FROM T"), "A|B\n1|x");
  Exec("ALTER TABLE T ADD COLUMN C VARCHAR(5) DEFAULT 'new'");
  EXPECT_EQ(Rows("SELECT * FROM T"), "A|B|C\n1|x|new");
  // Another session of the same file changes the table: this one's kept statement follows.
  TFDConnection other;
  other.SetConnectionString("DriverID=SQLite;Database=" + db_path_);
  TFDQuery alter;
  alter.SetConnection(&other);
  alter.SQL().SetText("ALTER TABLE T ADD COLUMN D INTEGER");
  alter.ExecSQL();
  alter.SQL().SetText("ALTER TABLE T RENAME COLUMN B TO BB");
  alter.ExecSQL();
  EXPECT_EQ(Rows("SELECT * FROM T"), "A|BB|C|D\n1|x|new|<null>");
  Exec("ALTER TABLE T DROP COLUMN C");
  const std::string after_drop = Rows("SELECT * FROM T");
  EXPECT_EQ(after_drop, "A|BB|D\n1|x|<null>");
  // The kept statement's whole description is a fresh session's.
  TFDQuery kept;
  kept.SetConnection(&connection_);
  kept.SQL().SetText("SELECT * FROM T");
  kept.Open();
  TFDConnection fresh;
  fresh.SetConnectionString("DriverID=SQLite;Database=" + db_path_);
  TFDQuery described;
  described.SetConnection(&fresh);
  described.SQL().SetText("SELECT * FROM T");
  described.Open();
  EXPECT_EQ(kept.FieldDefs(), described.FieldDefs());
  EXPECT_EQ(kept.FieldDefs()[1].Size, 10);
}

TEST_F(StatementReuseTest, InferredColumnsAreDescribedForEachRun) {
  // An expression's type and size come from the values of the run, never from an earlier one.
  const std::string sql = "SELECT NAME || :TAIL AS X FROM BIG_TABLE WHERE ID = 1";
  int sizes[2] = {};
  const char* tails[2] = {"a", "abcdefghijklmnopqrstuvwxyz"};
  std::string names[2];
  for (int run = 0; run < 2; ++run) {
    query_.Close();
    query_.SQL().SetText(sql);
    query_.ParamByName("TAIL").SetValue(OleVariant(tails[run]));
    query_.Open();
    sizes[run] = query_.FieldDefs()[0].Size;
    names[run] = query_.Fields(0).AsString();
  }
  EXPECT_EQ(Session().Statements().Size(), 1u);
  EXPECT_EQ(static_cast<size_t>(sizes[1] - sizes[0]), std::string(tails[1]).size() - 1);
  EXPECT_EQ(names[1], names[0].substr(0, names[0].size() - 1) + tails[1]);
}

TEST_F(StatementReuseTest, TextOfSeveralStatementsRunsEveryStatementEachTime) {
  Exec("CREATE TABLE LOG (N INTEGER)");
  const std::string sql = "INSERT INTO LOG VALUES (1); SELECT COUNT(*) AS C FROM LOG";
  EXPECT_EQ(Rows(sql), "C\n1");
  EXPECT_EQ(Rows(sql), "C\n2");
  Exec("INSERT INTO LOG VALUES (5); INSERT INTO LOG VALUES (6)");
  Exec("INSERT INTO LOG VALUES (5); INSERT INTO LOG VALUES (6)");
  EXPECT_EQ(Rows("SELECT COUNT(*) AS C FROM LOG"), "C\n6");
}

TEST_F(StatementReuseTest, FailedStatementIsDroppedAndTheTextRunsAgainAfterwards) {
  Exec("CREATE TABLE U (ID INTEGER PRIMARY KEY, V INTEGER)");
  const std::string insert = "INSERT INTO U VALUES (1, 10)";
  Exec(insert);
  const size_t kept = Session().Statements().Size();
  EXPECT_NE(ErrorOf([&] { Exec(insert); }), "");  // the key is taken: refused
  EXPECT_EQ(Session().Statements().Size(), kept - 1);
  for (sqlite3_stmt* s : LiveStatements()) EXPECT_EQ(sqlite3_stmt_busy(s), 0);
  Exec("DELETE FROM U");
  Exec(insert);
  EXPECT_EQ(Rows("SELECT ID, V FROM U"), "ID|V\n1|10");

  // A value the field cannot hold fails the read part-way; the next run of the text is whole.
  const std::string select = "SELECT V FROM U ORDER BY ID";
  EXPECT_EQ(Rows(select), "V\n10");
  Exec("INSERT INTO U VALUES (2, 'not a number')");
  EXPECT_NE(ErrorOf([&] { Rows(select); }), "");
  for (sqlite3_stmt* s : LiveStatements()) EXPECT_EQ(sqlite3_stmt_busy(s), 0);
  Exec("UPDATE U SET V = 20 WHERE ID = 2");
  EXPECT_EQ(Rows(select), "V\n10\n20");
}

TEST_F(StatementReuseTest, KeptStatementsWorkInAndOutOfTransactions) {
  const std::string count = "SELECT COUNT(*) AS C FROM BIG_TABLE";
  const std::string insert = "INSERT INTO BIG_TABLE (ID, NAME) VALUES (1000, 'tx')";
  EXPECT_EQ(Rows(count), "C\n50");
  connection_.StartTransaction();
  Exec(insert);
  EXPECT_EQ(Rows(count), "C\n51");
  connection_.Rollback();
  EXPECT_EQ(Rows(count), "C\n50");
  connection_.StartTransaction();
  Exec(insert);
  connection_.Commit();
  EXPECT_EQ(Rows(count), "C\n51");
  // Another session sees the commit: nothing of it stayed behind in a kept statement.
  TFDConnection other;
  other.SetConnectionString("DriverID=SQLite;Database=" + db_path_);
  TFDQuery q;
  q.SetConnection(&other);
  q.SQL().SetText(count);
  q.Open();
  EXPECT_EQ(q.Fields(0).AsInteger(), 51);
  // And can write at once: no kept statement holds a read lock on the file.
  TFDQuery w;
  w.SetConnection(&other);
  w.SQL().SetText("DELETE FROM BIG_TABLE WHERE ID = 1000");
  w.ExecSQL();
  EXPECT_EQ(Rows(count), "C\n50");
}

TEST_F(StatementReuseTest, VacuumAndBackupRunWhileStatementsAreKept) {
  const std::string one = "SELECT ID, NAME FROM BIG_TABLE WHERE ID = 7";
  const std::string expected = Rows(one);
  Exec("DELETE FROM BIG_TABLE WHERE ID > 40");
  ASSERT_GE(Session().Statements().Size(), 2u);
  Exec("VACUUM");
  EXPECT_EQ(Rows(one), expected);

  const std::string copy_path = dir_.File("copy.db");
  const std::optional<std::string> copy =
      Session().BackUp([&](std::string_view) { return copy_path; });
  ASSERT_TRUE(copy.has_value());
  EXPECT_EQ(Rows(one), expected);
  Exec("DELETE FROM BIG_TABLE WHERE ID = 7");
  EXPECT_EQ(Rows(one), "ID|NAME");
  TFDConnection restored;
  restored.SetConnectionString("DriverID=SQLite;Database=" + *copy);
  TFDQuery q;
  q.SetConnection(&restored);
  q.SQL().SetText("SELECT COUNT(*) FROM BIG_TABLE");
  q.Open();
  EXPECT_EQ(q.Fields(0).AsInteger(), 40);
}

TEST_F(StatementReuseTest, ClosedSessionLeavesNoStatementAndClosesTheFile) {
  for (int id = 1; id <= 3; ++id) Rows(fmt::format("SELECT NAME FROM BIG_TABLE WHERE ID = {}", id));
  ASSERT_EQ(Session().Statements().Size(), 3u);
  query_.Close();
  connection_.Close();
  // The engine removes the write-ahead log when the file's last session really closes; a
  // statement left unfinalised would keep the session open in the engine.
  EXPECT_FALSE(std::filesystem::exists(db_path_ + "-wal"));
}

}  // namespace
}  // namespace velmora::test
