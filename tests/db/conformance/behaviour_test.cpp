// What every engine must do beyond its types: several statements in one text, transactions, the
// engine's own error text, the statement time-out and cancel, a lost session, a delta applied with
// a refused row, stored procedures, escape sequences. Each case runs on every engine
// (engines.h); an engine's exceptions are written in its entry or in the escape table here.
#include <fmt/core.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "data/memory_stream.h"
#include "data/params.h"
#include "db/core/db_error.h"
#include "db/core/statement_stop.h"
#include "db/core/stored_proc.h"
#include "tests/db/conformance/conformance_fixture.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST_P(Conformance, SeveralStatementsInOneTextRunInTurn) {
  SKIP_IF_ENGINE_LACKS(writes);
  Exec("CREATE TABLE MS (ID INTEGER NOT NULL PRIMARY KEY, V INTEGER)");
  TFDQuery q;
  q.SetConnection(&connection_);
  // A ";" inside a literal ends no statement.
  q.SQL().SetText(
      "INSERT INTO MS VALUES (1, 10); INSERT INTO MS VALUES (2, 20);\n"
      "UPDATE MS SET V = V + 1 WHERE 'a;b' <> 'c'");
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 4);
  EXPECT_EQ(Scalar("SELECT SUM(V) FROM MS"), "32");

  // ExecSQL runs a SELECT amid the text and drops its rows; a comment may end the text.
  q.SQL().SetText(
      "UPDATE MS SET V = V - 1; SELECT * FROM MS; UPDATE MS SET V = V + 1 WHERE ID = 1;\n"
      "-- done");
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 3);
  EXPECT_EQ(Scalar("SELECT SUM(V) FROM MS"), "31");
  Exec("UPDATE MS SET V = V + 1 WHERE ID = 2");

  // A statement that fails leaves the ones before it done (each committed on its own), unless the
  // engine's entry says otherwise.
  q.SQL().SetText("INSERT INTO MS VALUES (5, 50); INSERT INTO MS VALUES (5, 51)");
  const std::string refused = ErrorOf([&] { q.ExecSQL(); });
  EXPECT_NE(refused.find(engine().duplicate_key.text), std::string::npos) << refused;
  const EnginePart& kept = engine().statements_before_a_failing_one;
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM MS WHERE ID = 5"), kept.none ? "0" : "1")
      << (kept.none ? kept.none : "the statement before the failing one was undone");
  Exec("DELETE FROM MS WHERE ID = 5");

  // Open runs the statements before the first result set, then the ones after its rows.
  q.SQL().SetText(
      "DELETE FROM MS WHERE ID = 2; SELECT ID, V FROM MS ORDER BY ID; "
      "INSERT INTO MS VALUES (3, 30)");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.Fields(1).AsString(), "11");
  q.Close();
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM MS"), "2");

  // Markers are numbered across the statements of one text.
  q.SQL().SetText("UPDATE MS SET V = :A WHERE ID = 1; UPDATE MS SET V = :B WHERE ID = 3");
  q.ParamByName("A").SetValue(OleVariant(int32_t{5}));
  q.ParamByName("B").SetValue(OleVariant(int32_t{6}));
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 2);
  EXPECT_EQ(Scalar("SELECT SUM(V * ID) FROM MS"), "23");
}

TEST_P(Conformance, ATransactionIsCommittedOrRolledBackWhole) {
  SKIP_IF_ENGINE_LACKS(writes);
  Exec("CREATE TABLE TR (V INTEGER)");
  const auto other = OtherSession();
  connection_.StartTransaction();
  EXPECT_TRUE(connection_.InTransaction());
  EXPECT_EQ(ErrorOf([&] { connection_.StartTransaction(); }), "A transaction is already active");
  Exec("INSERT INTO TR VALUES (1)");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM TR"), "1");
  EXPECT_EQ(Scalar(*other, "SELECT COUNT(*) FROM TR"), "0") << "seen before the commit";
  connection_.Rollback();
  EXPECT_FALSE(connection_.InTransaction());
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM TR"), "0");

  connection_.StartTransaction();
  Exec("INSERT INTO TR VALUES (2)");
  connection_.Commit();
  EXPECT_FALSE(connection_.InTransaction());
  EXPECT_EQ(Scalar(*other, "SELECT SUM(V) FROM TR"), "2");
  EXPECT_EQ(ErrorOf([&] { connection_.Commit(); }), "No transaction is active");
  EXPECT_EQ(ErrorOf([&] { connection_.Rollback(); }), "No transaction is active");

  // Outside a transaction each statement commits on its own, seen by the other session at once,
  // and the other's by this one.
  Exec("INSERT INTO TR VALUES (3)");
  EXPECT_EQ(Scalar(*other, "SELECT SUM(V) FROM TR"), "5");
  Exec(*other, "DELETE FROM TR WHERE V = 3");
  EXPECT_EQ(Scalar("SELECT SUM(V) FROM TR"), "2");

  // A statement failing inside a transaction: the engine keeps the others for the commit, or
  // gives the whole transaction up and the commit says so.
  connection_.StartTransaction();
  Exec("INSERT INTO TR VALUES (4)");
  EXPECT_NE(ErrorOf([&] { Exec("INSERT INTO NO_SUCH_TABLE VALUES (1)"); }), "");
  const EnginePart& outcome = engine().failed_statement_in_transaction;
  EXPECT_EQ(ErrorOf([&] { connection_.Commit(); }), outcome.text ? outcome.text : "");
  EXPECT_FALSE(connection_.InTransaction());
  EXPECT_EQ(Scalar(*other, "SELECT SUM(V) FROM TR"), outcome.text ? "2" : "6");
}

TEST_P(Conformance, TheEnginesMessageReachesTheCaller) {
  try {
    Scalar("SELECT * FROM no_such_table");
    FAIL() << "a missing table was read";
  } catch (const EFDDBEngineException& e) {
    EXPECT_NE(std::string(e.what()).find(engine().missing_table.text), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(Scalar(engine().select_one), "1") << "the session goes on";
}

TEST_P(Conformance, ARunningStatementStopsAtItsTimeOutAndOnCancel) {
  SKIP_IF_ENGINE_LACKS(runaway);
  const std::string one = engine().select_one;
  // Runs the runaway query by Open, or the runaway statement by ExecSQL: its message and how long
  // it ran.
  const auto stopped = [&](bool open) {
    const std::string sql = open || engine().runaway_without_rows == nullptr
                                ? engine().runaway.text
                                : engine().runaway_without_rows;
    const auto start = Clock::now();
    const std::string message = ErrorOf([&] { open ? (void)Scalar(sql) : Exec(sql); });
    return std::pair(message, Clock::now() - start);
  };

  connection_.SetStatementTimeout(300ms);
  for (bool open : {true, false}) {
    SCOPED_TRACE(open ? "Open" : "ExecSQL");
    const auto [message, took] = stopped(open);
    EXPECT_EQ(message, "Statement stopped: it ran longer than the statement time-out of 0.3 s");
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3s);
    EXPECT_EQ(Scalar(one), "1") << "the session goes on";
  }
  EXPECT_EQ(connection_.UnusableReason(), "");

  // Without a time-out, a cancel from another thread stops it, outside a transaction or in one;
  // the cancel holds until cleared and never stops the rollback.
  connection_.SetStatementTimeout(0ms);
  Exec("CREATE TABLE ST (V INTEGER)");
  const struct {
    const char* name;
    bool open, in_transaction;
  } runs[] = {{"Open", true, false},
              {"Open in a transaction", true, true},
              {"ExecSQL in a transaction", false, true}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.name);
    if (run.in_transaction) {
      connection_.StartTransaction();
      Exec("INSERT INTO ST VALUES (1)");
    }
    std::thread canceller([this] {
      std::this_thread::sleep_for(300ms);
      connection_.Interrupt();
    });
    const auto [message, took] = stopped(run.open);
    canceller.join();
    EXPECT_EQ(message, kStatementCancelledMessage);
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3s);
    EXPECT_EQ(ErrorOf([&] { Scalar(one); }), kStatementCancelledMessage);
    if (run.in_transaction) {
      EXPECT_NO_THROW(connection_.Rollback());
    }
    connection_.ClearInterrupt();
    EXPECT_EQ(Scalar(one), "1");
  }
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ST"), "0");
  EXPECT_EQ(connection_.UnusableReason(), "");
}

TEST_P(Conformance, ALostSessionIsNoticed) {
  SKIP_IF_ENGINE_LACKS(writes);
  Exec("CREATE TABLE LS (V INTEGER)");
  Exec("INSERT INTO LS VALUES (1)");
  EXPECT_EQ(connection_.UnusableReason(), "");
  site_->LoseSession(connection_);
  EXPECT_NE(ErrorOf([&] { Exec("INSERT INTO LS VALUES (2)"); }), "")
      << "a write into a lost database was acknowledged";
  const EnginePart& lost = engine().lost_session;
  if (lost.none != nullptr) {
    EXPECT_EQ(connection_.UnusableReason(), "") << "the engine's entry says: " << lost.none;
    return;
  }
  EXPECT_NE(connection_.UnusableReason().find(lost.text), std::string::npos)
      << connection_.UnusableReason();
}

TEST_P(Conformance, ADeltaAppliesAroundARefusedRow) {
  SKIP_IF_ENGINE_LACKS(writes);
  Exec("CREATE TABLE DL (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
  for (const char* row : {"1, 'one'", "2, 'two'", "3, 'three'"})
    Exec(fmt::format("INSERT INTO DL VALUES ({})", row));

  // The client's side: the rows as a packet, changed with the change log on.
  TFDQuery source;
  source.SetConnection(&connection_);
  source.SQL().SetText("SELECT ID, NAME FROM DL ORDER BY ID");
  source.Open();
  TMemoryStream packet;
  source.SaveToStream(packet, sfAuto);
  source.Close();
  packet.SetPosition(0);
  TFDQuery client;
  client.LoadFromStream(packet, sfAuto);
  client.SetCachedUpdates(true);
  client.Append();
  client.FieldByName("ID") = OleVariant(int32_t{1});  // the key is taken
  client.FieldByName("NAME") = OleVariant("dup");
  client.Post();
  ASSERT_TRUE(client.Locate("ID", OleVariant(int32_t{2})));
  client.Edit();
  client.FieldByName("NAME") = OleVariant("changed 名");
  client.Post();
  ASSERT_TRUE(client.Locate("ID", OleVariant(int32_t{3})));
  client.Delete();
  client.Append();
  client.FieldByName("ID") = OleVariant(int32_t{4});
  client.FieldByName("NAME") = OleVariant("four");
  client.Post();

  // The server's side: the delta loaded into a query on the connection and applied.
  TMemoryStream delta;
  client.SaveToStream(delta, sfAuto);
  delta.SetPosition(0);
  TFDQuery applier;
  applier.SetConnection(&connection_);
  applier.UpdateOptions.UpdateTableName = "DL";
  applier.LoadFromStream(delta, sfAuto);
  EXPECT_EQ(applier.ApplyUpdates(-1), 1);
  std::vector<std::string> errors;
  applier.FilterChanges({rtModified, rtInserted, rtDeleted, rtHasErrors});
  for (applier.First(); !applier.Eof(); applier.Next())
    if (applier.RowError() != nullptr) errors.push_back(applier.RowError()->Message);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find(engine().duplicate_key.text), std::string::npos) << errors[0];

  TFDQuery after;
  after.SetConnection(&connection_);
  after.SQL().SetText("SELECT ID, NAME FROM DL ORDER BY ID");
  after.Open();
  std::string rows;
  for (; !after.Eof(); after.Next())
    rows += fmt::format("{}:{} ", after.Fields(0).AsString(), after.Fields(1).AsString());
  EXPECT_EQ(rows, "1:one 2:changed 名 4:four ");
}

TEST_P(Conformance, AStoredProcedureIsCalledWhereTheEngineHasThem) {
  TFDStoredProc proc;
  proc.SetConnection(&connection_);
  proc.SetStoredProcName(engine().procedure_name);
  proc.Params().CreateParam(ftInteger, "A", ptInput).SetValue(OleVariant(int32_t{41}));
  proc.Params().CreateParam(ftInteger, "B", ptOutput);
  if (Lacks(engine().procedure)) {
    EXPECT_EQ(ErrorOf([&] { proc.ExecProc(); }), engine().procedure.none);
    return;
  }
  Exec(engine().procedure.text);
  proc.ExecProc();
  EXPECT_EQ(proc.ParamByName("B").Value().AsInteger(), 42);
  // The same call again with a new value.
  proc.ParamByName("A").SetValue(OleVariant(int32_t{-1}));
  proc.ExecProc();
  EXPECT_EQ(proc.ParamByName("B").Value().AsInteger(), 0);
}

// An escape sequence, its value read back as text, and the engines whose value or support
// differs (EnginePart: text is the engine's value, none why it lacks the escape).
struct EscapeRow {
  const char* escape;
  const char* text;
  std::array<EnginePart, kEngineCount> differs{};
};

// Where an engine lacks an escape, in EngineId order.
constexpr EnginePart kAll{};
constexpr EnginePart kAccessHasNone{
    nullptr, "MDB Tools' SQL takes neither escapes nor expressions in the select list"};
constexpr std::array<EnginePart, kEngineCount> kOnAll{kAll, kAll, kAll, kAll, kAll, kAccessHasNone};

const EscapeRow kEscapeRows[] = {
    {"{fn UCASE('ab')}", "AB", kOnAll},
    {"{fn LCASE('AB')}", "ab", kOnAll},
    {"{fn CONCAT('a', 'b')}", "ab", kOnAll},
    {"{fn SUBSTRING('hello', 2, 3)}", "ell", kOnAll},
    {"{fn LENGTH('añb')}", "3", kOnAll},
    {"{fn IFNULL(NULL, 5)}", "5", kOnAll},
    {"{fn YEAR({d '2024-02-29'})}", "2024", kOnAll},
    {"{fn MONTH({ts '2024-02-29 10:11:12'})}", "2", kOnAll},
    {"{fn DAYOFWEEK({d '2024-02-25'})}", "1", kOnAll},
    {"{fn DAYOFYEAR({ts '2024-02-29 10:00:00'})}", "60", kOnAll},
    {"{fn HOUR({t '13:45:00'})}", "13", kOnAll},
    {"{fn DAYOFMONTH({d '2024-03-09'})}", "9", kOnAll},
};

TEST_P(Conformance, EscapeSequencesBecomeTheEnginesSql) {
  const size_t column = static_cast<size_t>(engine().id);
  if (std::all_of(std::begin(kEscapeRows), std::end(kEscapeRows),
                  [&](const EscapeRow& row) { return row.differs[column].none != nullptr; })) {
    GTEST_SKIP() << engine().name << ": " << kEscapeRows[0].differs[column].none;
  }
  for (const EscapeRow& row : kEscapeRows) {
    const EnginePart& differs = row.differs[column];
    SCOPED_TRACE(fmt::format("escape row {} on {}{}{}", row.escape, engine().name,
                             differs.none ? ": " : "", differs.none ? differs.none : ""));
    if (differs.none != nullptr) continue;
    const std::string sql = fmt::format("SELECT {} AS V{}", row.escape, engine().dual);
    std::string got;
    const std::string error = ErrorOf([&] { got = Scalar(sql); });
    if (!error.empty()) {
      ADD_FAILURE() << sql << " failed: " << error;
      continue;
    }
    EXPECT_EQ(got, differs.text ? differs.text : row.text) << sql;
  }
}

// A date, time or time stamp escape alone: the field type and value it reads back as, on each
// engine in EngineId order.
struct DateEscapeOn {
  TFieldType type = ftUnknown;  // ftUnknown: the engine lacks the escape (`note` says why)
  const char* text = nullptr;   // nullptr: the row's text
  const char* note = nullptr;
};
struct DateEscapeRow {
  const char* escape;
  const char* text;
  std::array<DateEscapeOn, kEngineCount> on;
};

constexpr const char* kSQLiteHasNoDates =
    "SQLite has no date types: the escape gives its text, of no declared type";
constexpr DateEscapeOn kAccessLacks{ftUnknown, nullptr, kAccessHasNone.none};

const DateEscapeRow kDateEscapeRows[] = {
    {"{d '2024-01-02'}",
     "2024-01-02",
     {DateEscapeOn{ftWideString, nullptr, kSQLiteHasNoDates}, DateEscapeOn{ftDate},
      DateEscapeOn{ftDate}, DateEscapeOn{ftWideString, nullptr, kSQLiteHasNoDates},
      DateEscapeOn{ftDate}, kAccessLacks}},
    {"{t '10:11:12'}",
     "1899-12-30 10:11:12",
     {DateEscapeOn{ftWideString, "10:11:12", kSQLiteHasNoDates}, DateEscapeOn{ftTime},
      DateEscapeOn{ftTime}, DateEscapeOn{ftWideString, "10:11:12", kSQLiteHasNoDates},
      DateEscapeOn{ftTime}, kAccessLacks}},
    {"{ts '2024-01-02 03:04:05'}",
     "2024-01-02 03:04:05",
     {DateEscapeOn{ftWideString, nullptr, kSQLiteHasNoDates}, DateEscapeOn{ftDateTime},
      DateEscapeOn{ftDateTime}, DateEscapeOn{ftWideString, nullptr, kSQLiteHasNoDates},
      DateEscapeOn{ftDateTime}, kAccessLacks}},
};

TEST_P(Conformance, DateEscapesReadBackAsTheirType) {
  const size_t column = static_cast<size_t>(engine().id);
  if (kDateEscapeRows[0].on[column].type == ftUnknown)
    GTEST_SKIP() << engine().name << ": " << kDateEscapeRows[0].on[column].note;
  for (const DateEscapeRow& row : kDateEscapeRows) {
    const DateEscapeOn& on = row.on[column];
    SCOPED_TRACE(fmt::format("date escape row {} on {}{}{}", row.escape, engine().name,
                             on.note ? ": " : "", on.note ? on.note : ""));
    TFDQuery q;
    q.SetConnection(&connection_);
    q.SQL().SetText(fmt::format("SELECT {} AS V{}", row.escape, engine().dual));
    const std::string error = ErrorOf([&] { q.Open(); });
    if (!error.empty()) {
      ADD_FAILURE() << error;
      continue;
    }
    EXPECT_EQ(FieldTypeName(q.FieldDefs()[0].DataType), FieldTypeName(on.type));
    EXPECT_EQ(q.Fields(0).AsString(), on.text ? on.text : row.text);
  }
}

// A text as the engine's own client would run it: what is a string, a comment, a body or a
// subscript to the engine makes no parameter, expands no escape and ends no statement, whether
// the engine is reached natively or through ODBC. `setup` runs first when given; `query` reads
// one value back.
struct AsWrittenRow {
  const char* name;
  std::vector<EngineId> engines;  // the engines whose dialect has the row's syntax
  const char* setup;
  const char* query;
  const char* value;
};

const AsWrittenRow kAsWrittenRows[] = {
    {"a backslash-escaped quote in E'..'",
     {EngineId::kPg, EngineId::kOdbcPg},
     nullptr,
     "SELECT E'it\\'s :x' AS V",
     "it's :x"},
    {"nested comments",
     {EngineId::kPg, EngineId::kOdbcPg},
     nullptr,
     "SELECT 1 /* a /* b */ :x */ AS V",
     "1"},
    {"an escape inside E'..'",
     {EngineId::kPg, EngineId::kOdbcPg},
     nullptr,
     "SELECT E'\\'{fn UCASE(x)}' AS V",
     "'{fn UCASE(x)}"},
    {"a dollar body",
     {EngineId::kPg, EngineId::kOdbcPg},
     nullptr,
     "SELECT $$ :x; {fn UCASE(x)} $$ AS V",
     " :x; {fn UCASE(x)} "},
    {"an array slice",
     {EngineId::kPg, EngineId::kOdbcPg},
     nullptr,
     "SELECT array_length((ARRAY[1, 2, 3])[2:3], 1) AS V",
     "2"},
    {"a rule's actions in parentheses",
     {EngineId::kPg, EngineId::kOdbcPg},
     "CREATE TABLE RT (A integer); CREATE TABLE RL (A integer);"
     "CREATE RULE R AS ON INSERT TO RT DO ALSO (INSERT INTO RL VALUES (NEW.A); "
     "INSERT INTO RL VALUES (NEW.A + 1)); INSERT INTO RT VALUES (1)",
     "SELECT SUM(A) AS V FROM RL",
     "3"},
    {"a q'..' string",
     {EngineId::kFirebird},
     nullptr,
     "SELECT q'{it's :x}' AS V FROM RDB$DATABASE",
     "it's :x"},
    {"bracketed and backticked names",
     {EngineId::kSQLite, EngineId::kOdbcSQLite},
     "CREATE TABLE BN (\"x:a\" INTEGER, \"y:b\" INTEGER); INSERT INTO BN VALUES (1, 2)",
     "SELECT [x:a] + `y:b` AS V FROM BN",
     "3"},
};

TEST_P(Conformance, TextsRunAsTheEngineReadsThem) {
  bool ran = false;
  for (const AsWrittenRow& row : kAsWrittenRows) {
    if (std::find(row.engines.begin(), row.engines.end(), engine().id) == row.engines.end())
      continue;
    SCOPED_TRACE(fmt::format("{} on {}", row.name, engine().name));
    ran = true;
    std::string got;
    const std::string error = ErrorOf([&] {
      if (row.setup != nullptr) Exec(row.setup);
      got = Scalar(row.query);
    });
    EXPECT_EQ(error, "");
    EXPECT_EQ(got, row.value);
  }
  if (!ran) GTEST_SKIP() << engine().name << ": no row of the table is in its dialect";
}

INSTANTIATE_TEST_SUITE_P(Engines, Conformance, ::testing::ValuesIn(Engines()), EngineName());

}  // namespace
}  // namespace velmora::test
