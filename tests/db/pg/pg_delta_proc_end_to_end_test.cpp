// UpdateOleVariant and StoredProc on PostgreSQL through the real program: velmora-cli apply and
// call as a user runs them, and the client library where the command line cannot say it (a
// timestamp compared to the millisecond, an input-output parameter, the packed lists as sent).
#include <cmath>

#include "client/delta_edit.h"
#include "client/velmora_client.h"
#include "codec/packets.h"
#include "codec/uMemoryStream2OLEVariant.h"
#include "common/service_defaults.h"
#include "tests/db/pg/pg_program_fixture.h"
#include "tests/support/packed_params.h"

namespace velmora::test {
namespace {

class PgDeltaProc : public PgEndToEnd {
 protected:
  void SetUp() override {
    PgEndToEnd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    client_.Connect("127.0.0.1", static_cast<uint16_t>(port_), std::string(kDefaultUserName),
                    std::string(kDefaultPassword));
  }

  std::string ChangeFile(const std::string& json) {
    WriteFile(dir_.File("changes.json"), json);
    return dir_.File("changes.json");
  }

  // The table's rows as psql prints them, the timestamp to the millisecond.
  std::string Rows() {
    return db_->Psql(
        "SELECT id, name, to_char(at, 'YYYY-MM-DD HH24:MI:SS.MS'), amount FROM d ORDER BY id");
  }

  TVelmoraClient client_;
};

constexpr const char* kTable =
    "CREATE TABLE d (id int PRIMARY KEY, name varchar(20) NOT NULL, at timestamp, amount float8);"
    "INSERT INTO d VALUES (1, 'one', '2024-01-02 03:04:05.5', 1.5),"
    " (2, 'two', '2024-01-03 00:00:00', 2.25), (3, 'three', NULL, NULL),"
    " (4, 'four', '2024-01-05 10:00:00', 0.1)";

// Every kind of change in one file; two refused rows (each fails its statement, which on this
// engine dooms the transaction unless the row runs under a savepoint) come back in the order of
// the rows, the accepted ones stay.
TEST_F(PgDeltaProc, CliApplyWithTimestampAndFloatKeepsAcceptedRowsAroundRefusedOnes) {
  db_->Psql(kTable);
  const CliResult r = Cli({"apply", "d", ChangeFile(R"({"key": ["id"],
        "insert": [{"id": 10, "name": "ten", "at": "2024-02-29 13:14:15.678", "amount": 0.1},
                   {"id": 1, "name": "dup"}],
        "update": [{"id": 2, "at": "2025-12-31 23:59:59.999", "amount": 0.001},
                   {"id": 4, "name": null}],
        "delete": [{"id": 3}]})")});
  EXPECT_EQ(r.code, 1);
  const size_t not_null = r.err.find("null value in column \"name\"");
  const size_t duplicate = r.err.find("duplicate key value violates unique constraint \"d_pkey\"");
  EXPECT_NE(not_null, std::string::npos) << r.err;
  EXPECT_NE(duplicate, std::string::npos) << r.err;
  EXPECT_LT(not_null, duplicate) << r.err;  // row 4 is before the appended rows
  EXPECT_EQ(Rows(),
            "1|one|2024-01-02 03:04:05.500|1.5\n"
            "2|two|2025-12-31 23:59:59.999|0.001\n"
            "4|four|2024-01-05 10:00:00.000|0.1\n"
            "10|ten|2024-02-29 13:14:15.678|0.1\n");

  // Everything applied: exit 0, nothing on standard error; the values read back as written.
  const CliResult ok = Cli({"apply", "d", "-"}, ChangeFile(R"({"key": ["id"],
        "update": [{"id": 10, "name": "TEN", "at": "2024-03-01 00:00:00.001"}],
        "delete": [{"id": 4}]})"));
  EXPECT_EQ(ok.code, 0) << ok.err;
  EXPECT_EQ(ok.err, "");
  const CliResult q = Cli({"--format", "csv", "query",
                           "SELECT id, name, at, amount FROM d"
                           " WHERE id IN (2, 10) ORDER BY id"});
  ASSERT_EQ(q.code, 0) << q.err;
  EXPECT_EQ(q.out,
            "id,name,at,amount\r\n2,two,2025-12-31 23:59:59.999,0.001\r\n"
            "10,TEN,2024-03-01 00:00:00.001,0.1\r\n");
}

// The client's edit path: a timestamp moved by a day and a float changed come back exactly (to the
// millisecond) when read again; a refused update beside them is reported and undone alone.
TEST_F(PgDeltaProc, ClientApplyUpdatesKeepsTimestampToTheMillisecond) {
  db_->Psql(kTable);
  std::string err;
  TFDMemTable rows;
  LoadForEditing(client_.SQL2OleVariant("SELECT * FROM d ORDER BY id", err), rows);
  ASSERT_EQ(err, "");
  SetKeyFields(rows, {"id"});
  ASSERT_TRUE(rows.Locate("id", int64_t{1}));
  const double at = rows.FieldByName("at").AsFloat() + 1.0;
  rows.Edit();
  rows.FieldByName("at") = OleVariant::Date(at);
  rows.FieldByName("amount") = OleVariant(1.0 / 3.0);
  rows.Post();
  ASSERT_TRUE(rows.Locate("id", int64_t{2}));
  rows.Edit();
  rows.FieldByName("name") = OleVariant::Null();
  rows.Post();
  client_.ApplyUpdates(rows, "d", err);
  EXPECT_NE(err.find("null value in column \"name\""), std::string::npos) << err;

  TFDMemTable back;
  ReadResultPacket(client_.SQL2OleVariant("SELECT * FROM d WHERE id <= 2 ORDER BY id", err), back);
  ASSERT_EQ(err, "");
  EXPECT_EQ(std::llround(back.FieldByName("at").AsFloat() * 86400000.0),
            std::llround(at * 86400000.0));
  EXPECT_EQ(back.FieldByName("amount").AsFloat(), 1.0 / 3.0);
  back.Next();
  EXPECT_EQ(back.FieldByName("name").AsString(), "two");
}

// A deferred constraint refuses the commit, not a statement: the grouped transaction is lost
// whole, and the changes run again one transaction each, so only the offending row is refused.
TEST_F(PgDeltaProc, CommitRefusedByDeferredConstraintReportsOnlyTheOffendingRow) {
  db_->Psql(
      "CREATE TABLE u (id int PRIMARY KEY, code int UNIQUE DEFERRABLE INITIALLY DEFERRED,"
      " at timestamp);"
      "INSERT INTO u VALUES (1, 1, NULL), (2, 2, NULL), (3, 3, NULL)");
  const CliResult r = Cli({"apply", "u", ChangeFile(R"({"key": ["id"],
        "update": [{"id": 1, "code": 2}, {"id": 3, "at": "2024-02-29 13:14:15.678"}],
        "insert": [{"id": 4, "code": 4, "at": "1999-12-31 23:59:59.999"}]})")});
  EXPECT_EQ(r.code, 1);
  const std::string duplicate = "duplicate key value violates unique constraint \"u_code_key\"";
  EXPECT_NE(r.err.find(duplicate), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(duplicate, r.err.find(duplicate) + 1), std::string::npos) << r.err;
  EXPECT_EQ(
      db_->Psql("SELECT id, code, to_char(at, 'YYYY-MM-DD HH24:MI:SS.MS') FROM u ORDER BY id"),
      "1|1|\n2|2|\n3|3|2024-02-29 13:14:15.678\n4|4|1999-12-31 23:59:59.999\n");
}

constexpr const char* kRoutines = R"(
CREATE FUNCTION twice(a int, OUT b int, OUT c numeric) AS $$
  SELECT a * 2, a / 4.0 $$ LANGUAGE sql;
CREATE PROCEDURE bump(INOUT n int, OUT seen int) AS $$
  BEGIN seen := n; n := n + 1; END $$ LANGUAGE plpgsql;
CREATE FUNCTION squares(n int) RETURNS TABLE(i int, sq int) AS $$
  SELECT g, g * g FROM generate_series(1, n) g $$ LANGUAGE sql;
CREATE TABLE calls (msg text);
CREATE PROCEDURE log_it(msg text) AS $$ INSERT INTO calls VALUES (msg) $$ LANGUAGE sql;
CREATE FUNCTION stamp(OUT t timestamp, OUT d numeric) AS $$
  SELECT timestamp '2024-02-29 13:14:15.678', 12.50 $$ LANGUAGE sql;
CREATE FUNCTION boom(a int, OUT b int) AS $$
  BEGIN RAISE EXCEPTION 'boom at %', a; END $$ LANGUAGE plpgsql;
)";

TEST_F(PgDeltaProc, StoredProcOutputsInputOutputAndTheSameCallTwice) {
  db_->Psql(kRoutines);
  TParams params;
  params.CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{10}));
  params.CreateParam(ftInteger, "B", ptOutput).SetValue(OleVariant(int32_t{7}));
  params.CreateParam(ftUnknown, "C", ptOutput);
  OleVariant first_out, second_out;
  std::string err;
  for (OleVariant* out : {&first_out, &second_out}) {
    EXPECT_TRUE(client_.StoredProc("TWICE", PackParams(params), *out, err, false).IsEmpty());
    EXPECT_EQ(err, "");
    ASSERT_TRUE(out->IsVariantArray());
    ASSERT_EQ(out->Array().items.size(), 2u);
    ExpectPackedOutput((*out)[0], "B", OleVariant(int32_t{20}), ftInteger);
    // A numeric read back into an undeclared output is a decimal: it travels as its text.
    ExpectPackedOutput((*out)[1], "C", OleVariant("2.5000000000000000"), ftFMTBcd);
  }
  EXPECT_EQ(first_out, second_out);

  // INOUT n is passed (seen gets it) but its new value does not come back.
  TParams inout;
  inout.CreateParam(ftInteger, "N", ptInputOutput).SetValue(OleVariant(int32_t{5}));
  inout.CreateParam(ftInteger, "SEEN", ptOutput);
  OleVariant out;
  EXPECT_TRUE(client_.StoredProc("bump", PackParams(inout), out, err, false).IsEmpty());
  EXPECT_EQ(err, "");
  ASSERT_TRUE(out.IsVariantArray());
  ASSERT_EQ(out.Array().items.size(), 1u);
  ExpectPackedOutput(out[0], "SEEN", OleVariant(int32_t{5}), ftInteger);
  client_.StoredProc("bump", inout, err, false);
  EXPECT_EQ(err, "");
  EXPECT_EQ(inout.ParamByName("SEEN").Value(), OleVariant(int32_t{5}));
  EXPECT_EQ(inout.ParamByName("N").Value(), OleVariant(int32_t{5}));
}

// Opened, a procedure gives its one row of OUT and INOUT values; OutPutPack still holds only the
// ptOutput parameters. A timestamp output comes back as a date-time, a decimal as its text.
TEST_F(PgDeltaProc, StoredProcRowsOfAProcedureAndTypedOutputs) {
  db_->Psql(kRoutines);
  TParams inout;
  inout.CreateParam(ftInteger, "N", ptInputOutput).SetValue(OleVariant(int32_t{5}));
  inout.CreateParam(ftInteger, "SEEN", ptOutput);
  OleVariant out;
  std::string err;
  TFDMemTable rows;
  ReadResultPacket(client_.StoredProc("BUMP", PackParams(inout), out, err, true), rows);
  EXPECT_EQ(err, "");
  ASSERT_EQ(rows.RecordCount(), 1);
  EXPECT_EQ(rows.FieldByName("n").AsInteger(), 6);
  EXPECT_EQ(rows.FieldByName("seen").AsInteger(), 5);
  ASSERT_TRUE(out.IsVariantArray());
  ASSERT_EQ(out.Array().items.size(), 1u);
  ExpectPackedOutput(out[0], "SEEN", OleVariant(int32_t{5}), ftInteger);

  TParams typed;
  typed.CreateParam(ftUnknown, "T", ptOutput);
  typed.CreateParam(ftUnknown, "D", ptOutput);
  EXPECT_TRUE(client_.StoredProc("stamp", PackParams(typed), out, err, false).IsEmpty());
  EXPECT_EQ(err, "");
  ASSERT_TRUE(out.IsVariantArray());
  ASSERT_EQ(out.Array().items.size(), 2u);
  EXPECT_EQ(out[0][2].AsInteger(), ftDateTime);
  // 2024-02-29 is day 45351 after 1899-12-30.
  EXPECT_EQ(std::llround(out[0][1].DateValue() * 86400000.0),
            45351LL * 86400000 + ((13 * 60 + 14) * 60 + 15) * 1000LL + 678);
  ExpectPackedOutput(out[1], "D", OleVariant("12.50"), ftFMTBcd);
  // The typed call gives an undeclared output the data type the server packed, not the one of the
  // value that carried it (a decimal travels as text).
  client_.StoredProc("stamp", typed, err, false);
  EXPECT_EQ(err, "");
  EXPECT_EQ(typed.ParamByName("T").DataType, ftDateTime);
  EXPECT_EQ(typed.ParamByName("D").DataType, ftFMTBcd);
  EXPECT_EQ(typed.ParamByName("D").Value(), OleVariant("12.50"));
}

// Refusals: ErrMsg holds the message, OutPutPack and the result are Empty, nothing was called.
TEST_F(PgDeltaProc, StoredProcRefusalsLeaveOutputsAndResultEmpty) {
  db_->Psql(kRoutines);
  struct Case {
    const char* proc;
    const char* input;
    bool rows;
    const char* message;
  } const cases[] = {
      {"log_it", "MSG", true, "Command text does not return a result set"},
      {"boom", "A", false, "boom at 7"},
      {"boom", "A", true, "boom at 7"},
      {"no_such_proc", "A", false, "function no_such_proc(unknown) does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.proc) + (c.rows ? " rows" : ""));
    TParams params;
    params.CreateParam(ftWideString, c.input, ptInput).SetValue(OleVariant("7"));
    params.CreateParam(ftInteger, "B", ptOutput);
    OleVariant out = OleVariant("not touched");
    std::string err;
    const OleVariant result = client_.StoredProc(c.proc, PackParams(params), out, err, c.rows);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_TRUE(result.IsEmpty());
  }
  EXPECT_EQ(db_->Psql("SELECT count(*) FROM calls"), "0\n");
}

// velmora-cli call: outputs alone, rows alone and both, in csv and json.
TEST_F(PgDeltaProc, CliCallInCsvAndJson) {
  db_->Psql(kRoutines);
  struct Case {
    std::vector<std::string> args;
    const char* out;
  } const cases[] = {
      {{"--format", "csv", "call", "twice", "A=10", "--out", "B:int"}, "B\r\n20\r\n"},
      {{"--format", "json", "call", "twice", "A=10", "--out", "B:int"},
       "{\"fields\":[{\"name\":\"B\",\"type\":\"ftInteger\",\"size\":0}],\"rows\":[\n[20]]}\n"},
      {{"--format", "csv", "call", "squares", "N=3", "--rows"}, "i,sq\r\n1,1\r\n2,4\r\n3,9\r\n"},
      {{"--format", "csv", "call", "twice", "A=3", "--out", "B:int", "--rows"},
       "B\r\n6\r\n\nb,c\r\n6,0.75\r\n"},
      // A decimal output prints as decimals do in query results, declared or not.
      {{"--format", "csv", "call", "stamp", "--out", "T:timestamp", "--out", "D:decimal"},
       "T,D\r\n2024-02-29 13:14:15.678,12.5\r\n"},
      {{"--format", "json", "call", "stamp", "--out", "T", "--out", "D"},
       "{\"fields\":[{\"name\":\"T\",\"type\":\"ftDateTime\",\"size\":0},"
       "{\"name\":\"D\",\"type\":\"ftFMTBcd\",\"size\":0}],\"rows\":[\n"
       "[\"2024-02-29T13:14:15.678\",12.5]]}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[3]);
    const CliResult r = Cli(c.args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
  const CliResult rows = Cli({"--format", "json", "call", "squares", "N=2", "--rows"});
  EXPECT_EQ(rows.code, 0) << rows.err;
  EXPECT_NE(rows.out.find("[1,1],\n[2,4]"), std::string::npos) << rows.out;

  const CliResult failed = Cli({"call", "boom", "A=7", "--out", "B"});
  EXPECT_EQ(failed.code, 1);
  EXPECT_NE(failed.err.find("boom at 7"), std::string::npos) << failed.err;
  EXPECT_EQ(failed.out, "");
}

}  // namespace
}  // namespace velmora::test
