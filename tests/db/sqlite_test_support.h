// Shared set-up for the SQLite tests: a fixture database in a fresh folder and a connection to it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "db/core/connection.h"
#include "db/core/query.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"
#include "tools/self_host/fixture_db.h"

namespace velmora::test {

class SQLiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    self_host::CreateFixtureDatabase(db_path_, 50);
    connection_.Params().SetValue("DriverID", "SQLite");
    connection_.Params().SetValue("Database", db_path_);
    connection_.Open();
    query_.SetConnection(&connection_);
  }

  // Runs `sql` on a fresh query and returns the first column of the first row as text.
  std::string Scalar(const std::string& sql) {
    TFDQuery q;
    q.SetConnection(&connection_);
    q.SQL().SetText(sql);
    q.Open();
    return q.Fields(0).AsString();
  }

  void Exec(const std::string& sql) {
    TFDQuery q;
    q.SetConnection(&connection_);
    q.SQL().SetText(sql);
    q.ExecSQL();
  }

  TempDir dir_;
  std::string db_path_ = dir_.File("fixture.db");
  TFDConnection connection_;
  TFDQuery query_;
};

}  // namespace velmora::test
