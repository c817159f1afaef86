#include "db/core/connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "db/core/db_error.h"
#include "db/core/query.h"
#include "db/core/stored_proc.h"
#include "tests/db/sqlite_test_support.h"

namespace velmora::test {
namespace {

TEST(ConnectionStringTest, ParsesPairsAndKeepsAnEarlierDriverName) {
  TFDConnection c;
  c.SetDriverName("MSAcc");
  c.SetConnectionString(" User_Name = admin ;Password=\"p;w\";Database=C:\\data\\a.mdb;;");
  EXPECT_EQ(c.Params().Values("user_name"), "admin");
  EXPECT_EQ(c.Params().Values("Password"), "p;w");
  EXPECT_EQ(c.Params().Values("Database"), "C:\\data\\a.mdb");
  EXPECT_EQ(c.DriverName(), "MSAcc");
  TFDConnection copy;
  copy.SetConnectionString(c.ConnectionString());
  EXPECT_EQ(copy.Params(), c.Params());

  c.SetConnectionString("DriverID=MSSQL;Server=.");
  EXPECT_EQ(c.DriverName(), "MSSQL");
  EXPECT_EQ(c.Params().Count(), 2);
}

TEST(ConnectionTest, UnknownOrMissingDriverFailsNamingIt) {
  TFDConnection c;
  c.Params().SetValue("Database", "x.db");
  EXPECT_THROW(c.Open(), EFDException);
  EXPECT_FALSE(c.Connected());
  c.SetDriverName("Oracle");
  try {
    c.Open();
    FAIL() << "opened";
  } catch (const EFDException& e) {
    EXPECT_NE(std::string(e.what()).find("[Oracle]"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(c.Connected());
}

TEST(ConnectionTest, SQLiteCreatesTheFileWithSharingDefaults) {
  TempDir dir;
  TFDConnection c;
  c.SetConnectionString("DriverID=SQLite;CreateDatabase=Yes;Database=" + dir.File("new.db"));
  c.SetConnected(true);
  EXPECT_TRUE(std::filesystem::exists(dir.File("new.db")));
  TFDQuery q;
  q.SetConnection(&c);
  const std::pair<const char*, const char*> expected[] = {{"PRAGMA journal_mode", "wal"},
                                                          {"PRAGMA locking_mode", "normal"},
                                                          {"PRAGMA busy_timeout", "10000"},
                                                          {"PRAGMA foreign_keys", "1"}};
  for (const auto& [pragma, value] : expected) {
    q.Close();
    q.SQL().SetText(pragma);
    q.Open();
    EXPECT_EQ(q.Fields(0).AsString(), value) << pragma;
  }
}

TEST(ConnectionTest, CfgLinesOverrideTheDefaults) {
  TempDir dir;
  TStringList cfg;
  cfg.SetText("DriverID=SQLite\nDatabase=" + dir.File("o.db") +
              "\nCreateDatabase=Yes\nJournalMode=delete\nBusyTimeout=250\nForeignKeys="
              "Off\nSynchronous=OFF");
  cfg.SaveToFile(dir.File("DataBase.CFG"));
  TFDConnection c;
  c.Params().LoadFromFile(dir.File("DataBase.CFG"));
  c.LoginPrompt = false;
  c.Open();
  TFDQuery q;
  q.SetConnection(&c);
  const std::pair<const char*, const char*> expected[] = {{"PRAGMA journal_mode", "delete"},
                                                          {"PRAGMA busy_timeout", "250"},
                                                          {"PRAGMA foreign_keys", "0"},
                                                          {"PRAGMA synchronous", "0"}};
  for (const auto& [pragma, value] : expected) {
    q.Close();
    q.SQL().SetText(pragma);
    q.Open();
    EXPECT_EQ(q.Fields(0).AsString(), value) << pragma;
  }
}

TEST(ConnectionTest, BadParameterValuesAndUnreachableFilesFail) {
  TempDir dir;
  const std::string cases[] = {
      "DriverID=SQLite;Database=" + dir.File("a.db") + ";JournalMode=WAL DROP TABLE x",
      "DriverID=SQLite;Database=" + dir.File("a.db") + ";BusyTimeout=soon",
      "DriverID=SQLite;Database=" + dir.File("missing/folder/a.db"),
      "DriverID=SQLite",
  };
  for (const std::string& cs : cases) {
    TFDConnection c;
    c.SetConnectionString(cs);
    EXPECT_THROW(c.Open(), EFDException) << cs;
    EXPECT_FALSE(c.Connected()) << cs;
  }
  std::ofstream(dir.File("junk.db")) << "this is not a database file, not at all, no sir";
  TFDConnection c;
  c.SetConnectionString("DriverID=SQLite;Database=" + dir.File("junk.db"));
  EXPECT_THROW(c.Open(), EFDDBEngineException);
}

using TransactionTest = SQLiteTest;

TEST_F(TransactionTest, RollbackUndoesCommitKeepsAndOutsideEachCommandCommits) {
  connection_.StartTransaction();
  EXPECT_TRUE(connection_.InTransaction());
  EXPECT_THROW(connection_.StartTransaction(), EFDException);
  Exec("DELETE FROM BIG_TABLE");
  connection_.Rollback();
  EXPECT_FALSE(connection_.InTransaction());
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BIG_TABLE"), "50");

  connection_.StartTransaction();
  Exec("DELETE FROM BIG_TABLE WHERE ID > 40");
  connection_.Commit();
  EXPECT_THROW(connection_.Commit(), EFDException);

  Exec("DELETE FROM BIG_TABLE WHERE ID > 30");  // automatic commit
  TFDConnection other;
  other.SetConnectionString("DriverID=SQLite;Database=" + db_path_);
  TFDQuery q;
  q.SetConnection(&other);
  q.SQL().SetText("SELECT COUNT(*) FROM BIG_TABLE");
  q.Open();
  EXPECT_EQ(q.Fields(0).AsInteger(), 30);
}

TEST_F(TransactionTest, ClosingRollsBackAnOpenTransaction) {
  connection_.StartTransaction();
  Exec("DELETE FROM BIG_TABLE");
  connection_.Close();
  connection_.Open();
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BIG_TABLE"), "50");
}

TEST_F(TransactionTest, DestroyingOrClosingTheConnectionDetachesDatasets) {
  auto conn = std::make_unique<TFDConnection>();
  conn->SetConnectionString("DriverID=SQLite;Database=" + db_path_);
  TFDQuery q1, q2;
  TFDStoredProc sp;
  q1.SetConnection(conn.get());
  q2.SetConnection(conn.get());
  sp.SetConnection(conn.get());
  q1.SQL().SetText("SELECT * FROM BIG_TABLE");
  q1.Open();
  EXPECT_EQ(conn->AttachedCount(), 3);
  q2.SetConnection(nullptr);
  EXPECT_EQ(conn->AttachedCount(), 2);
  conn.reset();
  EXPECT_EQ(q1.Connection(), nullptr);
  EXPECT_EQ(sp.Connection(), nullptr);
  EXPECT_EQ(q1.RecordCount(), 50);  // the fetched rows stay
  EXPECT_THROW(q1.ExecSQL(), EFDException);

  {
    TFDQuery q3;
    q3.SetConnection(&connection_);
    EXPECT_EQ(connection_.AttachedCount(), 2);  // query_ and q3
  }
  EXPECT_EQ(connection_.AttachedCount(), 1);  // a destroyed dataset detaches itself
  connection_.Close();
  EXPECT_EQ(query_.Connection(), nullptr);
}

TEST_F(TransactionTest, StoredProceduresAreRefusedBySQLite) {
  TFDStoredProc sp;
  sp.SetConnection(&connection_);
  sp.SetStoredProcName("P");
  sp.Params().CreateParam(ftInteger, "A", ptInput).SetValue(int32_t{1});
  sp.FetchOptions.CursorKind = ckDefault;
  sp.FetchOptions.Mode = fmAll;
  EXPECT_EQ(ErrorOf([&] { sp.ExecProc(); }),
            "Stored procedures are not supported by the SQLite driver");
  EXPECT_EQ(ErrorOf([&] { sp.Open(); }),
            "Stored procedures are not supported by the SQLite driver");
  EXPECT_FALSE(sp.Active());
  sp.SetStoredProcName("P");
  EXPECT_EQ(sp.Params().Count(), 0);
}

}  // namespace
}  // namespace velmora::test
