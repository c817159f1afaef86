// Stored procedures on PostgreSQL: functions (SELECT * FROM f(...)) and procedures (CALL with
// placeholders for OUT arguments), inputs in declaration order, outputs read back by name,
// in-out arguments, rows through Open, overloads, folded and quoted names, errors raised inside,
// a routine that does not exist.
#include <gtest/gtest.h>

#include "data/params.h"
#include "db/core/db_error.h"
#include "db/core/stored_proc.h"
#include "tests/db/pg/pg_test_support.h"

namespace velmora::test {
namespace {

class PgStoredProcTest : public PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    Exec(
        "CREATE FUNCTION calc(a int, b int, OUT total int, OUT product bigint) LANGUAGE sql AS"
        " $$ SELECT a + b, CAST(a AS bigint) * b $$;"
        "CREATE PROCEDURE bump(INOUT n int, IN step int, OUT note text) LANGUAGE plpgsql AS $$"
        " BEGIN n := n + step; note := 'bumped by ' || step; END $$;"
        "CREATE FUNCTION upto(n int) RETURNS TABLE(i int, sq int) LANGUAGE sql AS"
        " $$ SELECT g, g * g FROM generate_series(1, n) g $$;"
        "CREATE FUNCTION checked(n int) RETURNS int LANGUAGE plpgsql AS $$ BEGIN"
        " IF n < 0 THEN RAISE EXCEPTION 'negative input: %', n; END IF; RETURN n; END $$;"
        "CREATE FUNCTION kind(v int) RETURNS text LANGUAGE sql AS $$ SELECT 'integer' $$;"
        "CREATE FUNCTION kind(v text) RETURNS text LANGUAGE sql AS $$ SELECT 'text' $$;"
        "CREATE PROCEDURE stash(v int, OUT r int) LANGUAGE plpgsql AS $$ BEGIN r := v; END $$;"
        "CREATE PROCEDURE stash(v bytea, OUT r text) LANGUAGE plpgsql AS"
        " $$ BEGIN r := 'bytes: ' || length(v); END $$;"
        "CREATE FUNCTION answer() RETURNS int LANGUAGE sql AS $$ SELECT 42 $$;"
        "CREATE FUNCTION \"MixedCase\"() RETURNS text LANGUAGE sql AS $$ SELECT 'quoted' $$;"
        "CREATE FUNCTION fruit(OUT \"\xC3\x84PFEL\" int) LANGUAGE sql AS $$ SELECT 5 $$;"
        "CREATE TABLE log (v int);"
        "CREATE PROCEDURE note_it(v int) LANGUAGE sql AS $$ INSERT INTO log VALUES (v) $$");
    proc_.SetConnection(&connection_);
  }

  TParam& Param(TFieldType type, const char* name, TParamType kind) {
    return proc_.Params().CreateParam(type, name, kind);
  }

  TFDStoredProc proc_;
};

TEST_F(PgStoredProcTest, FunctionInputsAndOutputsByNameAnUnknownOutputTypedFromItsValue) {
  proc_.SetStoredProcName("Calc");  // unquoted: folded to calc
  Param(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{6}));
  Param(ftInteger, "b", ptInput).SetValue(OleVariant(int32_t{7}));
  Param(ftUnknown, "PRODUCT", ptOutput);
  Param(ftInteger, "Total", ptOutput);
  proc_.ExecProc();
  EXPECT_EQ(proc_.Params().ParamByName("total").Value().AsInteger(), 13);
  const TParam& product = proc_.Params().ParamByName("product");
  EXPECT_EQ(product.Value().AsInt64(), 42);
  EXPECT_EQ(product.Value().VarType(), varInt64);
  EXPECT_EQ(product.DataType, ftLargeint);
}

// The output column is named ÄPFEL; the parameter declared as äpfel takes its value.
TEST_F(PgStoredProcTest, OutputMatchesItsColumnWithNonAsciiLettersInOtherCase) {
  proc_.SetStoredProcName("fruit");
  Param(ftInteger, "\xC3\xA4pfel", ptOutput);
  proc_.ExecProc();
  EXPECT_EQ(proc_.Params()[0].Value().AsInteger(), 5);
}

TEST_F(PgStoredProcTest, ProcedureWithInOutAndOutArguments) {
  proc_.SetStoredProcName("bump");
  Param(ftInteger, "n", ptInputOutput).SetValue(OleVariant(int32_t{40}));
  Param(ftInteger, "step", ptInput).SetValue(OleVariant(int32_t{2}));
  Param(ftWideString, "NOTE", ptOutput);
  proc_.ExecProc();
  EXPECT_EQ(proc_.Params().ParamByName("n").Value().AsInteger(), 42);
  EXPECT_EQ(proc_.Params().ParamByName("note").Value().AsString(), "bumped by 2");

  // A procedure without outputs runs through ExecProc; Open has no rows to give.
  proc_.SetStoredProcName("note_it");
  Param(ftInteger, "v", ptInput).SetValue(OleVariant(int32_t{5}));
  proc_.ExecProc();
  EXPECT_EQ(db_->Psql("SELECT v FROM log"), "5\n");
  try {
    proc_.Open();
    FAIL() << "opened";
  } catch (const EFDException& e) {
    EXPECT_STREQ(e.what(), "Command text does not return a result set");
  }
  EXPECT_EQ(db_->Psql("SELECT count(*) FROM log"), "1\n");  // not called a second time
}

// A procedure's call names its OUT arguments' types, so the overload chosen for the inputs must be
// the one the server runs: every bytes type picks the bytea one.
TEST_F(PgStoredProcTest, EveryBytesTypeChoosesTheByteaOverloadOfAProcedure) {
  for (TFieldType type : {ftBlob, ftBytes, ftVarBytes, ftGraphic, ftTypedBinary, ftOraBlob}) {
    SCOPED_TRACE(FieldTypeName(type));
    proc_.SetStoredProcName("stash");
    Param(type, "v", ptInput).SetValue(OleVariant::Bytes(std::string_view("\x01\x02")));
    Param(ftUnknown, "r", ptOutput);
    EXPECT_EQ(ErrorOf([&] { proc_.ExecProc(); }), "");
    EXPECT_EQ(proc_.Params().ParamByName("r").Value().AsString(), "bytes: 2");
  }
}

TEST_F(PgStoredProcTest, RowsThroughOpenAndOutputsFromTheFirstRow) {
  proc_.SetStoredProcName("upto");
  Param(ftInteger, "n", ptInput).SetValue(OleVariant(int32_t{4}));
  Param(ftInteger, "SQ", ptOutput);
  proc_.Open();
  ASSERT_EQ(proc_.RecordCount(), 4);
  ASSERT_EQ(proc_.FieldCount(), 2);
  proc_.Last();
  EXPECT_EQ(proc_.FieldByName("sq").AsInteger(), 16);
  EXPECT_EQ(proc_.Params().ParamByName("sq").Value().AsInteger(), 1);
}

TEST_F(PgStoredProcTest, NoDeclaredParametersAndUntypedEntriesCountAsInputs) {
  proc_.SetStoredProcName("answer");
  proc_.Open();
  EXPECT_EQ(proc_.Fields(0).AsInteger(), 42);
  proc_.Close();

  proc_.SetStoredProcName("calc");
  TParam& a = proc_.Params().Add();
  a.SetValue(OleVariant(int32_t{2}));
  TParam& b = proc_.Params().Add();
  b.SetValue(OleVariant(int32_t{3}));
  ASSERT_EQ(a.ParamType, ptUnknown);
  proc_.Open();
  EXPECT_EQ(proc_.FieldByName("total").AsInteger(), 5);
}

TEST_F(PgStoredProcTest, OverloadsQuotedNamesErrorsAndMissingRoutines) {
  for (const auto& [type, value, expected] :
       {std::tuple{ftInteger, OleVariant(int32_t{1}), "integer"},
        std::tuple{ftWideString, OleVariant("1"), "text"},
        std::tuple{ftOraClob, OleVariant("1"), "text"}}) {
    SCOPED_TRACE(FieldTypeName(type));
    proc_.SetStoredProcName("kind");
    Param(type, "v", ptInput).SetValue(value);
    Param(ftUnknown, "kind", ptResult);
    proc_.ExecProc();
    EXPECT_EQ(proc_.Params().ParamByName("kind").Value().AsString(), expected);
  }

  proc_.SetStoredProcName("\"MixedCase\"");
  proc_.Open();
  EXPECT_EQ(proc_.Fields(0).AsString(), "quoted");
  proc_.Close();
  proc_.SetStoredProcName("MixedCase");
  EXPECT_NE(ErrorOf([&] { proc_.ExecProc(); }).find("function mixedcase() does not exist"),
            std::string::npos);

  proc_.SetStoredProcName("checked");
  Param(ftInteger, "n", ptInput).SetValue(OleVariant(int32_t{-1}));
  EXPECT_EQ(ErrorOf([&] { proc_.ExecProc(); }).rfind("ERROR:  negative input: -1", 0), 0u);

  proc_.SetStoredProcName("no_such_proc");
  Param(ftInteger, "n", ptInput).SetValue(OleVariant(int32_t{1}));
  EXPECT_EQ(ErrorOf([&] {
              proc_.ExecProc();
            }).rfind("ERROR:  function no_such_proc(unknown) does not exist", 0),
            0u)
      << ErrorOf([&] { proc_.ExecProc(); });
}

}  // namespace
}  // namespace velmora::test
