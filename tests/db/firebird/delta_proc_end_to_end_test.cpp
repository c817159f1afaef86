// UpdateOleVariant and StoredProc on an embedded Firebird database through the real program:
// velmora-cli apply and call as a user runs them, and the client library for the packed lists
// and a timestamp compared to the millisecond.
#include <cmath>

#include "client/delta_edit.h"
#include "client/velmora_client.h"
#include "codec/packets.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "tests/db/firebird/fb_program_fixture.h"
#include "tests/support/packed_params.h"

namespace velmora::test {
namespace {

class FbDeltaProc : public FbEndToEnd {
 protected:
  std::string Schema() const override {
    return "CREATE TABLE D (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) NOT NULL,"
           " STAMPED TIMESTAMP, AMOUNT DOUBLE PRECISION);\n"
           "INSERT INTO D VALUES (1, 'one', '2024-01-02 03:04:05.5', 1.5);\n"
           "INSERT INTO D VALUES (2, 'two', '2024-01-03 00:00:00', 2.25);\n"
           "INSERT INTO D VALUES (3, 'three', NULL, NULL);\n"
           "INSERT INTO D VALUES (4, 'four', '2024-01-05 10:00:00', 0.1);\n"
           "CREATE TABLE CALLS (MSG VARCHAR(20));\n"
           "CREATE EXCEPTION E_BOOM 'boom';\n"
           "CREATE PROCEDURE TWICE (A INTEGER) RETURNS (B INTEGER, T TIMESTAMP) AS\n"
           "BEGIN\n  B = A * 2;\n  T = TIMESTAMP '2024-02-29 13:14:15.678';\nEND;\n"
           "CREATE PROCEDURE SEEN (N INTEGER) RETURNS (S INTEGER) AS\nBEGIN\n  S = N;\nEND;\n"
           "CREATE PROCEDURE SQUARES (N INTEGER) RETURNS (I INTEGER, SQ INTEGER) AS\n"
           "BEGIN\n  I = 1;\n  WHILE (I <= N) DO BEGIN\n    SQ = I * I;\n    SUSPEND;\n"
           "    I = I + 1;\n  END\nEND;\n"
           "CREATE PROCEDURE LOG_IT (MSG VARCHAR(20)) AS\n"
           "BEGIN\n  INSERT INTO CALLS VALUES (:MSG);\nEND;\n"
           "CREATE PROCEDURE BOOM (A INTEGER) RETURNS (B INTEGER) AS\n"
           "BEGIN\n  EXCEPTION E_BOOM 'boom at ' || A;\nEND";
  }

  void SetUp() override {
    FbEndToEnd::SetUp();
    if (HasFatalFailure()) return;
    client_.Connect("127.0.0.1", static_cast<uint16_t>(port_), kFbServiceUser, kFbServicePassword);
  }

  // The client leaves before the server is stopped, which waits for its connections.
  void TearDown() override {
    client_.Close();
    FbEndToEnd::TearDown();
  }

  std::string ChangeFile(const std::string& json) {
    WriteFile(dir_.File("changes.json"), json);
    return dir_.File("changes.json");
  }

  std::string Csv(const std::string& sql) {
    const CliResult r = Cli({"--format", "csv", "query", sql});
    EXPECT_EQ(r.code, 0) << r.err;
    return r.out;
  }

  TVelmoraClient client_;
};

TEST_F(FbDeltaProc, CliApplyWithTimestampAndFloatKeepsAcceptedRowsAroundRefusedOnes) {
  const CliResult r = Cli({"apply", "D", ChangeFile(R"({"key": ["ID"],
        "insert": [{"ID": 10, "NAME": "ten", "STAMPED": "2024-02-29 13:14:15.678", "AMOUNT": 0.1},
                   {"ID": 1, "NAME": "dup"}],
        "update": [{"ID": 2, "STAMPED": "2025-12-31 23:59:59.999", "AMOUNT": 0.001},
                   {"ID": 4, "NAME": null}],
        "delete": [{"ID": 3}]})")});
  EXPECT_EQ(r.code, 1);
  const size_t not_null = r.err.find("validation error for column \"D\".\"NAME\"");
  const size_t duplicate = r.err.find("violation of PRIMARY or UNIQUE KEY constraint");
  EXPECT_NE(not_null, std::string::npos) << r.err;
  EXPECT_NE(duplicate, std::string::npos) << r.err;
  EXPECT_LT(not_null, duplicate) << r.err;  // row 4 is before the appended rows
  EXPECT_EQ(Csv("SELECT ID, NAME, STAMPED, AMOUNT FROM D ORDER BY ID"),
            "ID,NAME,STAMPED,AMOUNT\r\n1,one,2024-01-02 03:04:05.500,1.5\r\n"
            "2,two,2025-12-31 23:59:59.999,0.001\r\n4,four,2024-01-05 10:00:00,0.1\r\n"
            "10,ten,2024-02-29 13:14:15.678,0.1\r\n");

  const CliResult ok = Cli({"apply", "D", "-"}, ChangeFile(R"({"key": ["ID"],
        "update": [{"ID": 10, "NAME": "TEN", "STAMPED": "2024-03-01 00:00:00.001"}],
        "delete": [{"ID": 4}]})"));
  EXPECT_EQ(ok.code, 0) << ok.err;
  EXPECT_EQ(ok.err, "");
  EXPECT_EQ(Csv("SELECT ID, NAME, STAMPED FROM D WHERE ID >= 4 ORDER BY ID"),
            "ID,NAME,STAMPED\r\n10,TEN,2024-03-01 00:00:00.001\r\n");
}

TEST_F(FbDeltaProc, ClientApplyUpdatesKeepsTimestampToTheMillisecond) {
  std::string err;
  TFDMemTable rows;
  LoadForEditing(client_.SQL2OleVariant("SELECT * FROM D ORDER BY ID", err), rows);
  ASSERT_EQ(err, "");
  SetKeyFields(rows, {"ID"});
  ASSERT_TRUE(rows.Locate("ID", int64_t{1}));
  const double at = rows.FieldByName("STAMPED").AsFloat() + 1.0;
  rows.Edit();
  rows.FieldByName("STAMPED") = OleVariant::Date(at);
  rows.FieldByName("AMOUNT") = OleVariant(1.0 / 3.0);
  rows.Post();
  client_.ApplyUpdates(rows, "D", err);
  EXPECT_EQ(err, "");

  TFDMemTable back;
  ReadResultPacket(client_.SQL2OleVariant("SELECT * FROM D WHERE ID = 1", err), back);
  ASSERT_EQ(err, "");
  EXPECT_EQ(std::llround(back.FieldByName("STAMPED").AsFloat() * 86400000.0),
            std::llround(at * 86400000.0));
  EXPECT_EQ(back.FieldByName("AMOUNT").AsFloat(), 1.0 / 3.0);
}

TEST_F(FbDeltaProc, StoredProcOutputsInputOutputAndTheSameCallTwice) {
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{10}));
  params.CreateParam(ftInteger, "B", ptOutput).SetValue(OleVariant(int32_t{7}));
  params.CreateParam(ftUnknown, "T", ptOutput);
  OleVariant first_out, second_out;
  std::string err;
  for (OleVariant* out : {&first_out, &second_out}) {
    EXPECT_TRUE(client_.StoredProc("TWICE", PackParams(params), *out, err, false).IsEmpty());
    EXPECT_EQ(err, "");
    ASSERT_TRUE(out->IsVariantArray());
    ASSERT_EQ(out->Array().items.size(), 2u);
    ExpectPackedOutput((*out)[0], "B", OleVariant(int32_t{20}), ftInteger);
    EXPECT_EQ((*out)[1][2].AsInteger(), ftDateTime);
    EXPECT_EQ(std::llround((*out)[1][1].DateValue() * 86400000.0),
              45351LL * 86400000 + ((13 * 60 + 14) * 60 + 15) * 1000LL + 678);
  }
  EXPECT_EQ(first_out, second_out);

  // An input-output parameter is passed (SEEN gives it back as S) but not returned itself.
  TParams inout;
  inout.CreateParam(ftInteger, "N", ptInputOutput).SetValue(OleVariant(int32_t{5}));
  inout.CreateParam(ftInteger, "S", ptOutput);
  OleVariant out;
  EXPECT_TRUE(client_.StoredProc("SEEN", PackParams(inout), out, err, false).IsEmpty());
  EXPECT_EQ(err, "");
  ASSERT_TRUE(out.IsVariantArray());
  ASSERT_EQ(out.Array().items.size(), 1u);
  ExpectPackedOutput(out[0], "S", OleVariant(int32_t{5}), ftInteger);
}

TEST_F(FbDeltaProc, StoredProcRefusalsLeaveOutputsAndResultEmpty) {
  struct Case {
    const char* proc;
    bool rows;
    const char* message;
  } const cases[] = {
      {"BOOM", false, "boom at 7"},
      {"BOOM", true, "boom at 7"},
      {"NO_SUCH_PROC", false, "NO_SUCH_PROC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.proc) + (c.rows ? " rows" : ""));
    TParams params;
    params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{7}));
    params.CreateParam(ftInteger, "B", ptOutput);
    OleVariant out = OleVariant("not touched");
    std::string err;
    const OleVariant result = client_.StoredProc(c.proc, PackParams(params), out, err, c.rows);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_TRUE(result.IsEmpty());
  }
}

TEST_F(FbDeltaProc, CliCallInCsvAndJson) {
  struct Case {
    std::vector<std::string> args;
    const char* out;
  } const cases[] = {
      {{"--format", "csv", "call", "TWICE", "A=10", "--out", "B:int"}, "B\r\n20\r\n"},
      {{"--format", "json", "call", "TWICE", "A=10", "--out", "B:int"},
       "{\"fields\":[{\"name\":\"B\",\"type\":\"ftInteger\",\"size\":0}],\"rows\":[\n[20]]}\n"},
      {{"--format", "csv", "call", "SQUARES", "N=3", "--rows"}, "I,SQ\r\n1,1\r\n2,4\r\n3,9\r\n"},
      {{"--format", "csv", "call", "TWICE", "A=3", "--out", "B:int", "--out", "T", "--rows"},
       "B,T\r\n6,2024-02-29 13:14:15.678\r\n\nB,T\r\n6,2024-02-29 13:14:15.678\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[3]);
    const CliResult r = Cli(c.args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
  const CliResult failed = Cli({"call", "BOOM", "A=7", "--out", "B"});
  EXPECT_EQ(failed.code, 1);
  EXPECT_NE(failed.err.find("boom at 7"), std::string::npos) << failed.err;
  EXPECT_EQ(failed.out, "");
}

}  // namespace
}  // namespace velmora::test
