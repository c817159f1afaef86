// Stored procedures through ODBC on PostgreSQL's ODBC driver: "{call f(?, ...)}" becomes
// SELECT * FROM f(...), so OUT arguments come back as the result's columns into the output
// parameters after every result is drained; a row-returning function opens as rows.
#include <gtest/gtest.h>

#include "data/params.h"
#include "db/core/stored_proc.h"
#include "tests/db/odbc/odbc_pg_support.h"
#include "tests/db/odbc/odbc_test_support.h"

namespace velmora::test {
namespace {

class OdbcPgProcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = SharedPgServer();
    if (!server_) GTEST_SKIP() << "no PostgreSQL server (run under ctest)";
    db_ = std::make_unique<PgTestDatabase>(*server_);
    db_->Psql(
        "CREATE FUNCTION add_mul(a int, b int, OUT total int, OUT product int) AS $$ "
        "BEGIN total := a + b; product := a * b; END $$ LANGUAGE plpgsql;"
        "CREATE FUNCTION numbers(n int) RETURNS TABLE(i int, label text) AS $$ "
        "SELECT g, 'n' || g FROM generate_series(1, n) g $$ LANGUAGE sql;"
        "CREATE FUNCTION fails(a int) RETURNS int AS $$ BEGIN "
        "RAISE EXCEPTION 'refused: %', a; END $$ LANGUAGE plpgsql;"
        "CREATE FUNCTION ping() RETURNS text AS $$ SELECT 'pong' $$ LANGUAGE sql;");
    connection_ = OpenOdbc(OdbcPgLines(*db_));
    proc_.SetConnection(connection_.get());
  }

  std::optional<PgServer> server_;
  std::unique_ptr<PgTestDatabase> db_;
  std::unique_ptr<TFDConnection> connection_;
  TFDStoredProc proc_;
};

TEST_F(OdbcPgProcTest, InputsInOrderAndOutputsByName) {
  proc_.SetStoredProcName("add_mul");
  TParams& p = proc_.Params();
  p.CreateParam(ftInteger, "a", ptInput).SetValue(OleVariant(int32_t{6}));
  p.CreateParam(ftInteger, "b", ptUnknown).SetValue(OleVariant(int32_t{7}));  // counts as input
  p.CreateParam(ftInteger, "Total", ptOutput);
  p.CreateParam(ftUnknown, "product", ptOutput);
  proc_.ExecProc();
  EXPECT_EQ(p.ParamByName("total").Value().AsInt64(), 13);
  EXPECT_EQ(p.ParamByName("PRODUCT").Value().AsString(), "42");
}

TEST_F(OdbcPgProcTest, ResultParameterTakesTheFunctionsValue) {
  proc_.SetStoredProcName("ping");
  proc_.Params().CreateParam(ftWideString, "Result", ptResult);
  proc_.ExecProc();
  EXPECT_EQ(proc_.Params().ParamByName("result").Value().AsString(), "pong");
}

TEST_F(OdbcPgProcTest, RowReturningFunctionOpensAsRows) {
  proc_.SetStoredProcName("numbers");
  proc_.Params().CreateParam(ftInteger, "n", ptInput).SetValue(OleVariant(int32_t{3}));
  proc_.Open();
  ASSERT_EQ(proc_.RecordCount(), 3);
  EXPECT_EQ(proc_.FieldDefs().Find("i")->DataType, ftInteger);
  proc_.Last();
  EXPECT_EQ(proc_.FieldByName("label").AsString(), "n3");
}

TEST_F(OdbcPgProcTest, NoDeclaredParameters) {
  proc_.SetStoredProcName("ping");
  proc_.Open();
  ASSERT_EQ(proc_.RecordCount(), 1);
  EXPECT_EQ(proc_.Fields(0).AsString(), "pong");
}

TEST_F(OdbcPgProcTest, ErrorRaisedInsideAndMissingProcedure) {
  proc_.SetStoredProcName("fails");
  proc_.Params().CreateParam(ftInteger, "a", ptInput).SetValue(OleVariant(int32_t{5}));
  std::string message = ErrorOf([&] { proc_.ExecProc(); });
  EXPECT_NE(message.find("refused: 5"), std::string::npos) << message;

  proc_.SetStoredProcName("no_such_proc");
  message = ErrorOf([&] { proc_.ExecProc(); });
  EXPECT_NE(message.find("no_such_proc"), std::string::npos) << message;
  EXPECT_NE(message.find("does not exist"), std::string::npos) << message;
  // The session goes on after both.
  EXPECT_EQ(Scalar(*connection_, "SELECT 1"), "1");
}

}  // namespace
}  // namespace velmora::test
