// Shared set-up of the PostgreSQL driver tests: a fresh database on the run's server and an open
// connection to it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/core/connection.h"
#include "db/core/query.h"
#include "tests/support/error_of.h"
#include "tests/support/pg_server.h"

namespace velmora::test {

class PgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PG_SERVER(server);
    db_ = std::make_unique<PgTestDatabase>(server);
    connection_.Params().SetText(db_->ConnectionLines());
    connection_.Open();
  }

  // A fresh query on the connection with `sql`.
  std::unique_ptr<TFDQuery> Query(const std::string& sql) {
    auto q = std::make_unique<TFDQuery>();
    q->SetConnection(&connection_);
    q->SQL().SetText(sql);
    return q;
  }
  std::unique_ptr<TFDQuery> Open(const std::string& sql) {
    auto q = Query(sql);
    q->Open();
    return q;
  }
  int64_t Exec(const std::string& sql) {
    auto q = Query(sql);
    q->ExecSQL();
    return q->RowsAffected();
  }
  std::unique_ptr<PgTestDatabase> db_;
  TFDConnection connection_;
};

}  // namespace velmora::test
