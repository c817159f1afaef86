// Stored procedures on Firebird: executable ones through ExecProc, selectable ones through Open,
// outputs read back by name.
#include "db/core/stored_proc.h"

#include <gtest/gtest.h>

#include "tests/db/firebird/fb_test_support.h"

namespace velmora::test {
namespace {

class FbStoredProc : public FbTest {
 protected:
  void SetUp() override {
    FbTest::SetUp();
    Exec(
        "CREATE TABLE LOG_T (V INTEGER);\n"
        "CREATE EXCEPTION E_BAD 'bad value';\n"
        "CREATE PROCEDURE ADD_MUL (A INTEGER, B INTEGER) RETURNS (S INTEGER, P BIGINT) AS\n"
        "BEGIN\n  S = A + B;\n  P = A * B;\nEND;\n"
        "CREATE PROCEDURE RANGE_OF (N INTEGER) RETURNS (I INTEGER, LABEL VARCHAR(10)) AS\n"
        "BEGIN\n  I = 1;\n  WHILE (I <= N) DO BEGIN\n    LABEL = 'row ' || I;\n    SUSPEND;\n"
        "    I = I + 1;\n  END\nEND;\n"
        "CREATE PROCEDURE FAILING (A INTEGER) AS\n"
        "BEGIN\n  IF (A > 0) THEN EXCEPTION E_BAD 'value ' || A || ' is too big';\nEND;\n"
        "CREATE PROCEDURE NO_ARGS AS\nBEGIN\n  INSERT INTO LOG_T VALUES (7);\nEND");
    proc_.SetConnection(&connection_);
  }

  TFDStoredProc proc_;
};

TEST_F(FbStoredProc, ExecProcSendsInputsInOrderAndReadsOutputsBackByName) {
  proc_.SetStoredProcName("add_mul");  // unquoted names are upper case in the catalogue
  proc_.Params().CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{2}));
  proc_.Params().CreateParam(ftUnknown, "B", ptUnknown).SetValue(OleVariant(int32_t{3}));
  proc_.Params().CreateParam(ftInteger, "s", ptOutput);
  proc_.Params().CreateParam(ftUnknown, "P", ptOutput);
  proc_.Params().CreateParam(ftInteger, "OTHER", ptOutput);
  proc_.ExecProc();
  EXPECT_EQ(proc_.ParamByName("S").Value().AsInteger(), 5);
  EXPECT_EQ(proc_.ParamByName("P").Value().AsInteger(), 6);
  EXPECT_EQ(proc_.ParamByName("P").DataType, ftLargeint);  // typed from its value
  EXPECT_TRUE(proc_.ParamByName("OTHER").IsNull());        // no output of that name

  // No input-output parameters in Firebird: one is sent as an input and keeps its value.
  proc_.SetStoredProcName("ADD_MUL");
  proc_.Params().CreateParam(ftInteger, "A", ptInputOutput).SetValue(OleVariant(int32_t{4}));
  proc_.Params().CreateParam(ftInteger, "B", ptInput).SetValue(OleVariant(int32_t{5}));
  proc_.Params().CreateParam(ftInteger, "S", ptOutput);
  proc_.ExecProc();
  EXPECT_EQ(proc_.ParamByName("A").Value().AsInteger(), 4);
  EXPECT_EQ(proc_.ParamByName("S").Value().AsInteger(), 9);
}

// Firebird procedures return no value of their own: a result parameter is never sent (ADD_MUL
// takes two inputs) and takes the output of its name like any output.
TEST_F(FbStoredProc, AResultParameterIsReadBackByNameAndNeverSent) {
  proc_.SetStoredProcName("ADD_MUL");
  proc_.Params().CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{2}));
  proc_.Params().CreateParam(ftInteger, "S", ptResult).SetValue(OleVariant(int32_t{100}));
  proc_.Params().CreateParam(ftInteger, "B", ptInput).SetValue(OleVariant(int32_t{3}));
  proc_.ExecProc();
  EXPECT_EQ(proc_.ParamByName("S").Value().AsInteger(), 5);
}

TEST_F(FbStoredProc, OpenGivesEveryRowOfASelectableProcedureAndExecProcItsFirst) {
  proc_.SetStoredProcName("RANGE_OF");
  proc_.Params().CreateParam(ftInteger, "N", ptInput).SetValue(OleVariant(int32_t{3}));
  proc_.Params().CreateParam(ftWideString, "LABEL", ptOutput);
  proc_.Open();
  ASSERT_EQ(proc_.RecordCount(), 3);
  EXPECT_EQ(proc_.FieldDefs()[1].Name, "LABEL");
  proc_.Last();
  EXPECT_EQ(proc_.Fields(1).AsString(), "row 3");
  EXPECT_TRUE(proc_.ParamByName("LABEL").IsNull());  // outputs are not read after Open
  proc_.Close();

  proc_.ExecProc();
  EXPECT_EQ(proc_.ParamByName("LABEL").Value().AsString(), "row 1");
}

TEST_F(FbStoredProc, OpenOfAnExecutableProcedureGivesItsOutputsAsOneRow) {
  proc_.SetStoredProcName("ADD_MUL");
  proc_.Params().CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{6}));
  proc_.Params().CreateParam(ftInteger, "B", ptInput).SetValue(OleVariant(int32_t{7}));
  proc_.Params().CreateParam(ftInteger, "P", ptOutput);
  proc_.Open();
  ASSERT_EQ(proc_.RecordCount(), 1);
  EXPECT_EQ(proc_.Fields(0).AsString(), "13");
  EXPECT_EQ(proc_.Fields(1).AsString(), "42");
  EXPECT_EQ(proc_.ParamByName("P").Value().AsInteger(), 42);
}

TEST_F(FbStoredProc, NoDeclaredParametersErrorsInsideAndMissingProcedures) {
  proc_.SetStoredProcName("NO_ARGS");
  proc_.ExecProc();
  EXPECT_EQ(Scalar("SELECT V FROM LOG_T"), "7");

  proc_.SetStoredProcName("FAILING");
  proc_.Params().CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{12}));
  EXPECT_EQ(ErrorOf([&] { proc_.ExecProc(); }),
            "exception 1\nE_BAD\nvalue 12 is too big\nAt procedure 'FAILING' line: 3, col: 19");

  proc_.SetStoredProcName("NOT_THERE");
  const std::string missing = ErrorOf([&] { proc_.ExecProc(); });
  EXPECT_NE(missing.find("Procedure unknown\nNOT_THERE"), std::string::npos) << missing;
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM LOG_T"), "1");  // the session goes on
}

}  // namespace
}  // namespace velmora::test
