// TDriverCommand::ExecuteAgain on SQLite: a text of one statement runs again with the parameters'
// new values without being prepared anew; a text of several statements cannot.
#include <gtest/gtest.h>

#include <filesystem>

#include "data/params.h"
#include "db/core/connection.h"
#include "db/core/db_error.h"
#include "tests/db/sqlite_test_support.h"

namespace velmora::test {
namespace {

using ExecuteAgainTest = SQLiteTest;

TEST_F(ExecuteAgainTest, OneStatementRunsAgainWithNewValuesAndCountsThatRunOnly) {
  TDriverConnection& driver = connection_.Driver();
  TParams values;
  TParam& name = values.CreateParam(ftWideString, "NAME", ptInput);
  TParam& low = values.CreateParam(ftInteger, "LOW", ptInput);
  TParam* markers[] = {&name, &low};
  auto command = driver.CreateCommand("UPDATE BIG_TABLE SET NAME = ? WHERE ID >= ?");
  EXPECT_FALSE(command->ExecuteAgain());  // nothing has run yet
  command->SetParams(markers);
  name.SetValue(OleVariant("first"));
  low.SetValue(OleVariant(int32_t{48}));
  command->Execute();
  EXPECT_EQ(command->RowsAffected(), 3);
  name.SetValue(OleVariant("second"));
  low.SetValue(OleVariant(int32_t{50}));
  ASSERT_TRUE(command->ExecuteAgain());
  EXPECT_EQ(command->RowsAffected(), 1);
  EXPECT_EQ(Scalar("SELECT group_concat(NAME) FROM (SELECT NAME FROM BIG_TABLE WHERE ID >= 48 "
                   "ORDER BY ID)"),
            "first,first,second");

  // A refused run leaves the command usable.
  Exec("CREATE TABLE U (ID INTEGER PRIMARY KEY)");
  Exec("INSERT INTO U VALUES (1)");
  TParam& id = values.CreateParam(ftInteger, "ID", ptInput);
  TParam* one[] = {&id};
  auto insert = driver.CreateCommand("INSERT INTO U VALUES (?)");
  insert->SetParams(one);
  id.SetValue(OleVariant(int32_t{2}));
  insert->Execute();
  EXPECT_THROW(insert->ExecuteAgain(), EFDDBEngineException);  // 2 again: refused
  id.SetValue(OleVariant(int32_t{3}));
  ASSERT_TRUE(insert->ExecuteAgain());
  EXPECT_EQ(Scalar("SELECT group_concat(ID) FROM U"), "1,2,3");
}

TEST_F(ExecuteAgainTest, TextOfSeveralStatementsCannotRunAgain) {
  auto command = connection_.Driver().CreateCommand(
      "UPDATE BIG_TABLE SET NAME = 'a' WHERE ID = 1; UPDATE BIG_TABLE SET NAME = 'b' WHERE ID = 2");
  command->Execute();
  EXPECT_FALSE(command->ExecuteAgain());
  EXPECT_EQ(Scalar("SELECT NAME FROM BIG_TABLE WHERE ID = 2"), "b");
}

// Run again inside a transaction, a statement does not look at the file each time; a file
// replaced meanwhile still fails the commit, so nothing written to the old file is acknowledged.
TEST_F(ExecuteAgainTest, ReplacedFileStillFailsTheCommit) {
  TDriverConnection& driver = connection_.Driver();
  TParams values;
  TParam& id = values.CreateParam(ftInteger, "ID", ptInput);
  TParam* markers[] = {&id};
  auto command = driver.CreateCommand("UPDATE BIG_TABLE SET NAME = 'again' WHERE ID = ?");
  command->SetParams(markers);
  connection_.StartTransaction();
  id.SetValue(OleVariant(int32_t{1}));
  command->Execute();
  const std::string other = dir_.File("other.db");
  self_host::CreateFixtureDatabase(other, 5);
  std::filesystem::rename(other, db_path_);
  id.SetValue(OleVariant(int32_t{2}));
  ASSERT_TRUE(command->ExecuteAgain());
  command.reset();
  EXPECT_EQ(ErrorOf([&] { connection_.Commit(); }),
            "The database file was replaced since this connection opened it: " + db_path_);
  EXPECT_FALSE(connection_.InTransaction());
}

}  // namespace
}  // namespace velmora::test
