// Kept statements on PostgreSQL: a single SELECT's compared literals become typed parameters of a
// named statement the session keeps. Each text gives lifted what it gives as written (columns,
// rows, or the error message); kept statements follow DDL of this and other sessions and stay
// right through transactions, errors, stops, evictions and a lost session.
//
// What the session keeps is read from the server: pg_prepared_statements lists the named
// statements of the session asking.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "data/params.h"
#include "db/core/db_error.h"
#include "db/core/statement_stop.h"
#include "db/pg/pg_connection.h"
#include "tests/db/pg/pg_test_support.h"

namespace velmora::test {
namespace {

using std::chrono::steady_clock;

// What a query gave: its columns and rows, or its error message.
struct Outcome {
  std::string error;
  std::vector<std::string> columns;  // name, type, size, precision, scale
  std::vector<std::string> rows;     // values joined by "|", NULL as "<null>"

  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  out << "error: " << o.error << "\ncolumns:";
  for (const std::string& c : o.columns) out << " [" << c << "]";
  out << "\nrows:";
  for (const std::string& r : o.rows) out << " [" << r << "]";
  return out;
}

// One named statement of the session.
struct Kept {
  std::string name, statement, types;
};

class PgStatementReuseTest : public PgTest {
 protected:
  Outcome Run(const std::string& sql) {
    Outcome o;
    o.error = ErrorOf([&] {
      auto q = Open(sql);
      for (int i = 0; i < q->FieldDefs().Count(); ++i) {
        const TFieldDef& d = q->FieldDefs()[i];
        o.columns.push_back(d.Name + " " + std::string(FieldTypeName(d.DataType)) + " " +
                            std::to_string(d.Size) + " " + std::to_string(d.Precision) + " " +
                            std::to_string(d.Scale));
      }
      for (; !q->Eof(); q->Next()) {
        std::string row;
        for (int i = 0; i < q->FieldCount(); ++i) {
          row += (i > 0 ? "|" : "") + (q->FieldIsNull(i) ? "<null>" : q->Fields(i).AsString());
        }
        o.rows.push_back(row);
      }
    });
    return o;
  }

  // The text as written: inside a transaction block nothing is lifted.
  Outcome RunAsWritten(const std::string& sql) {
    connection_.StartTransaction();
    Outcome o = Run(sql);
    connection_.Rollback();
    return o;
  }

  // The named statements of this session (the text has nothing to lift).
  std::vector<Kept> KeptStatements() {
    auto q = Open(
        "SELECT name, statement, CAST(parameter_types AS text) FROM pg_prepared_statements"
        " ORDER BY name");
    std::vector<Kept> kept;
    for (; !q->Eof(); q->Next()) {
      kept.push_back({q->Fields(0).AsString(), q->Fields(1).AsString(), q->Fields(2).AsString()});
    }
    return kept;
  }

  const Kept* Find(const std::vector<Kept>& kept, const std::string& statement) {
    for (const Kept& k : kept) {
      if (k.statement == statement) return &k;
    }
    return nullptr;
  }
};

TEST_F(PgStatementReuseTest, LiftedTextsGiveWhatTheyGiveAsWritten) {
  Exec(
      "CREATE TABLE t (id int PRIMARY KEY, big bigint, sm smallint, num numeric(10,2),"
      " f double precision, name varchar(20), tx text, d date, js jsonb);"
      "INSERT INTO t VALUES (1, 5000000000, 1, 1.50, 0.5, 'one', 'uno', '2024-01-01', '{\"a\":1}'),"
      " (2, -2147483648, 2, 2.00, 2, 'it''s', 'dos', '2024-01-02', '{\"b\":2}'),"
      " (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
      // What integers outside int64 would wrap to, modulo 2^64.
      " (4, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
      " (5, 1553255926290448384, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
      " (6, -9223372036854775808, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  enum class Expect { kKept, kAsWritten, kRefused };
  struct Case {
    const char* sql;
    Expect expect;
    const char* kept_text;   // the kept statement's text
    const char* kept_types;  // its parameter types as the server lists them
  };
  const Case cases[] = {
      {"SELECT * FROM t WHERE id = 2", Expect::kKept, "SELECT * FROM t WHERE id = $1", "{integer}"},
      {"SELECT id FROM t WHERE big = 5000000000", Expect::kKept, "SELECT id FROM t WHERE big = $1",
       "{bigint}"},
      // The sign is part of the constant: -2147483648 is int4, 2147483648 int8.
      {"SELECT id FROM t WHERE big=-2147483648", Expect::kKept, "SELECT id FROM t WHERE big=$1",
       "{integer}"},
      {"SELECT id FROM t WHERE id >= -2147483647 AND sm <> 2 ORDER BY id", Expect::kKept,
       "SELECT id FROM t WHERE id >= $1 AND sm <> $2 ORDER BY id", "{integer,integer}"},
      {"SELECT id, num FROM t WHERE num = 2", Expect::kKept, "SELECT id, num FROM t WHERE num = $1",
       "{integer}"},
      {"SELECT id, f FROM t WHERE f < 1", Expect::kKept, "SELECT id, f FROM t WHERE f < $1",
       "{integer}"},
      // Strings stay as written: their type would be fixed while the statement is kept.
      {"SELECT id FROM t WHERE name = 'it''s'", Expect::kAsWritten, nullptr, nullptr},
      {"SELECT id FROM t WHERE id = 'abc'", Expect::kRefused, nullptr, nullptr},
      {"SELECT id FROM t WHERE id = '2'", Expect::kAsWritten, nullptr, nullptr},
      {"SELECT id, d FROM t WHERE d > '2024-01-01' AND id <> 7", Expect::kKept,
       "SELECT id, d FROM t WHERE d > '2024-01-01' AND id <> $1", "{integer}"},
      {"SELECT id, id = 2 AS is_two, 'x' AS x FROM t WHERE id <> 1 ORDER BY id", Expect::kKept,
       "SELECT id, id = 2 AS is_two, 'x' AS x FROM t WHERE id <> $1 ORDER BY id", "{integer}"},
      // int64's least value is int8 as written; integers outside int64 are numeric as written
      // and never wrap.
      {"SELECT id, big FROM t WHERE big = -9223372036854775808", Expect::kKept,
       "SELECT id, big FROM t WHERE big = $1", "{bigint}"},
      {"SELECT id FROM t WHERE big = -0009223372036854775808 OR id = 00000000000000000000001",
       Expect::kKept, "SELECT id FROM t WHERE big = $1 OR id = $2", "{bigint,integer}"},
      {"SELECT id FROM t WHERE big = 18446744073709551616", Expect::kAsWritten, nullptr, nullptr},
      {"SELECT id FROM t WHERE big = 20000000000000000000", Expect::kAsWritten, nullptr, nullptr},
      {"SELECT id FROM t WHERE big < 20000000000000000000 ORDER BY id", Expect::kAsWritten, nullptr,
       nullptr},
      {"SELECT id FROM t WHERE big > -18446744073709551617 ORDER BY id", Expect::kAsWritten,
       nullptr, nullptr},
      {"SELECT id FROM t WHERE big = +0018446744073709551616", Expect::kAsWritten, nullptr,
       nullptr},
      // Fails as written, fails alike lifted: the parameter's type is the literal's.
      {"SELECT id FROM t WHERE tx = 5", Expect::kRefused, nullptr, nullptr},
      {"SELECT id FROM t WHERE name = 5", Expect::kRefused, nullptr, nullptr},
      {"SELECT id FROM t WHERE sm = 2147483648", Expect::kKept, "SELECT id FROM t WHERE sm = $1",
       "{bigint}"},
      {"SELECT id FROM missing WHERE id = 1", Expect::kRefused, nullptr, nullptr},
      // Right as written, refused lifted: the grouped expression no longer matches the column.
      {"SELECT id = 2 AS two, count(*) FROM t GROUP BY id = 2 ORDER BY 1", Expect::kRefused,
       nullptr, nullptr},
      // Not lifted at all.
      {"SELECT id FROM t WHERE js ? 'a' AND id = 1", Expect::kAsWritten, nullptr, nullptr},
      {"SELECT id FROM t WHERE id = 99999999999999999999", Expect::kAsWritten, nullptr, nullptr},
      {"SELECT id FROM t WHERE num = 2.0", Expect::kAsWritten, nullptr, nullptr},
      {"SELECT id FROM t WHERE tx = E'uno'", Expect::kAsWritten, nullptr, nullptr},
      {"SELECT id FROM t WHERE id = 2::bigint", Expect::kAsWritten, nullptr, nullptr},
      {"WITH x AS (SELECT * FROM t WHERE id = 2) SELECT id FROM x", Expect::kAsWritten, nullptr,
       nullptr},
      {"SELECT id FROM t WHERE id = 1; SELECT id FROM t WHERE id = 2", Expect::kAsWritten, nullptr,
       nullptr},
      {"SELECT id FROM t WHERE id IN (1, 2) LIMIT 1", Expect::kAsWritten, nullptr, nullptr},
      {"SELECT id FROM t WHERE id = $1 AND sm = 1", Expect::kAsWritten, nullptr, nullptr},
      {"SELECT id FROM t WHERE id = 1 AND tx <> $$x$$", Expect::kAsWritten, nullptr, nullptr},
      // A lifted marker right before an operator: "$1|1" reads as the literal did.
      {"SELECT id FROM t WHERE id = 2|1", Expect::kKept, "SELECT id FROM t WHERE id = $1|1",
       "{integer}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    const size_t kept_before = KeptStatements().size();
    const Outcome written = RunAsWritten(c.sql);
    EXPECT_EQ(KeptStatements().size(), kept_before) << "a transaction block keeps nothing";
    // Twice: prepared with the first run, only bound and executed with the second.
    EXPECT_EQ(Run(c.sql), written);
    EXPECT_EQ(Run(c.sql), written);
    const std::vector<Kept> kept = KeptStatements();
    switch (c.expect) {
      case Expect::kKept: {
        EXPECT_TRUE(written.error.empty()) << written.error;
        const Kept* k = Find(kept, c.kept_text);
        EXPECT_NE(k, nullptr);
        if (k != nullptr) {
          EXPECT_EQ(k->types, c.kept_types);
        }
        break;
      }
      case Expect::kAsWritten:
        EXPECT_EQ(kept.size(), kept_before);
        break;
      case Expect::kRefused:
        break;  // closed with the next statement sent: checked below
    }
  }
  // One more kept statement run sends the closes: what is left is what was kept.
  EXPECT_EQ(Run("SELECT * FROM t WHERE id = 3").rows.size(), 1u);
  const std::vector<Kept> kept = KeptStatements();
  size_t expected = 0;
  for (const Case& c : cases) {
    if (c.expect != Expect::kKept) continue;
    ++expected;
    EXPECT_NE(Find(kept, c.kept_text), nullptr) << c.sql;
  }
  EXPECT_EQ(kept.size(), expected);
}

TEST_F(PgStatementReuseTest, KeptStatementsFollowDdlOfThisAndOtherSessions) {
  Exec("CREATE TABLE d (id int PRIMARY KEY, name varchar(10)); INSERT INTO d VALUES (1, 'a')");
  const auto name_of = [this](const std::string& text) {
    const std::vector<Kept> kept = KeptStatements();
    const Kept* k = Find(kept, text);
    return k != nullptr ? k->name : std::string();
  };
  const std::string lifted = "SELECT * FROM d WHERE id = $1";
  EXPECT_EQ(Run("SELECT * FROM d WHERE id = 1").rows, std::vector<std::string>{"1|a"});
  const std::string first = name_of(lifted);
  ASSERT_FALSE(first.empty());

  // Another session changes the result ("cached plan must not change result type" lifted): the
  // call gives the new columns, their origin from the catalog read again.
  db_->Psql("ALTER TABLE d ADD COLUMN extra int NOT NULL DEFAULT 7");
  auto q = Open("SELECT * FROM d WHERE id = 1");
  ASSERT_EQ(q->FieldDefs().Count(), 3);
  EXPECT_EQ(q->FieldDefs()[2].Name, "extra");
  EXPECT_EQ(q->FieldDefs()[2].OriginColumn, "extra");
  EXPECT_TRUE(q->FieldDefs()[2].Required);
  EXPECT_FALSE(q->FieldDefs()[2].ReadOnly);
  EXPECT_EQ(q->Fields(2).AsInteger(), 7);
  q.reset();
  // Prepared again with the next call, under a new name.
  EXPECT_EQ(Run("SELECT * FROM d WHERE id = 1").rows, std::vector<std::string>{"1|a|7"});
  const std::string second = name_of(lifted);
  EXPECT_FALSE(second.empty());
  EXPECT_NE(second, first);

  // A column's type changed by this session.
  Exec("ALTER TABLE d ALTER COLUMN name TYPE text");
  EXPECT_EQ(Run("SELECT * FROM d WHERE id = 1"), RunAsWritten("SELECT * FROM d WHERE id = 1"));
  EXPECT_EQ(Run("SELECT * FROM d WHERE id = 1").columns[1], "name ftWideMemo 0 0 0");

  // The table dropped: the error of the text as written; then made again with other columns.
  db_->Psql("DROP TABLE d");
  const std::string gone = ErrorOf([&] { Open("SELECT * FROM d WHERE id = 1"); });
  EXPECT_NE(gone.find("relation \"d\" does not exist"), std::string::npos) << gone;
  EXPECT_EQ(gone, RunAsWritten("SELECT * FROM d WHERE id = 1").error);
  db_->Psql("CREATE TABLE d (id bigint, label text); INSERT INTO d VALUES (1, 'b')");
  EXPECT_EQ(Run("SELECT * FROM d WHERE id = 1"), RunAsWritten("SELECT * FROM d WHERE id = 1"));
  EXPECT_EQ(Run("SELECT * FROM d WHERE id = 1").rows, std::vector<std::string>{"1|b"});

  // The client's own DISCARD ALL drops every named statement: the next call still answers.
  Exec("DISCARD ALL");
  EXPECT_TRUE(KeptStatements().empty());
  EXPECT_EQ(Run("SELECT * FROM d WHERE id = 1").rows, std::vector<std::string>{"1|b"});
  EXPECT_EQ(Run("SELECT * FROM d WHERE id = 1").rows, std::vector<std::string>{"1|b"});
  EXPECT_FALSE(name_of(lifted).empty());
}

// A text run (and kept) before a change gives after it what it gives as written: DDL of this or
// another session that changes a column's type, search_path naming another table, settings that
// change how literals read.
TEST_F(PgStatementReuseTest, NoChangeOfAnySessionMakesAKeptTextReadOtherwise) {
  enum class By { kThisSession, kOtherSession };
  struct Case {
    const char* setup;   // run by this session first
    const char* query;   // run before the change, then after it
    const char* change;  // run by `by`
    By by;
    const char* after;  // what the text as written gives after the change: rows, or "error: ..."
  };
  const Case cases[] = {
      // text made char(4): blank-padded comparison.
      {"CREATE TABLE ch (b text); INSERT INTO ch VALUES ('ab'), ('ab  ')",
       "SELECT count(*) FROM ch WHERE b = 'ab  '",
       "DROP TABLE ch; CREATE TABLE ch (b char(4)); INSERT INTO ch VALUES ('ab'), ('ab  ')",
       By::kThisSession, "2"},
      // timestamptz made timestamp: the zone of the literal is ignored.
      {"SET TimeZone = 'UTC'; CREATE TABLE ts (id int, t timestamptz);"
       " INSERT INTO ts VALUES (1, '2024-01-01 10:00+00'), (2, '2024-01-01 11:00+00')",
       "SELECT id FROM ts WHERE t = '2024-01-01 11:00+01'",
       "DROP TABLE ts; CREATE TABLE ts (id int, t timestamp);"
       " INSERT INTO ts VALUES (1, '2024-01-01 10:00'), (2, '2024-01-01 11:00')",
       By::kOtherSession, "2"},
      // real made double precision: '0.1' read as a double.
      {"CREATE TABLE fl (id int, f real); INSERT INTO fl VALUES (1, 0.1)",
       "SELECT id FROM fl WHERE f = '0.1'",
       "DROP TABLE fl; CREATE TABLE fl (id int, f double precision); INSERT INTO fl VALUES (1, "
       "0.1)",
       By::kOtherSession, "1"},
      // numeric made integer: '1.5' is refused, not compared.
      {"CREATE TABLE nu (v numeric); INSERT INTO nu VALUES (1.5)",
       "SELECT count(*) FROM nu WHERE v = '1.5'",
       "DROP TABLE nu; CREATE TABLE nu (v integer); INSERT INTO nu VALUES (1)", By::kOtherSession,
       "error: invalid input syntax for type integer: \"1.5\""},
      // search_path makes the same name another table, of another column type.
      {"CREATE SCHEMA sa; CREATE SCHEMA sb; CREATE TABLE sa.sp (b text);"
       " CREATE TABLE sb.sp (b char(4)); INSERT INTO sa.sp VALUES ('ab'), ('ab  ');"
       " INSERT INTO sb.sp VALUES ('ab'), ('ab  '); SET search_path TO sa",
       "SELECT count(*) FROM sp WHERE b = 'ab  '", "SET search_path TO sb", By::kThisSession, "2"},
      // Integers: the parameter's type is the literal's, whatever the column became.
      {"CREATE TABLE it (id int, v int); INSERT INTO it VALUES (1, 5)",
       "SELECT id FROM it WHERE v = 5",
       "DROP TABLE it; CREATE TABLE it (id int, v text); INSERT INTO it VALUES (1, '5')",
       By::kOtherSession, "error: operator does not exist: text = integer"},
      {"CREATE TABLE inu (id int, v int); INSERT INTO inu VALUES (1, 5), (2, 6)",
       "SELECT id FROM inu WHERE v = 5",
       "ALTER TABLE inu ALTER COLUMN v TYPE numeric(4,1); UPDATE inu SET v = 5.5 WHERE id = 1",
       By::kOtherSession, ""},
      {"CREATE SCHEMA ia; CREATE SCHEMA ib; CREATE TABLE ia.isp (v int);"
       " CREATE TABLE ib.isp (v bigint); INSERT INTO ia.isp VALUES (5);"
       " INSERT INTO ib.isp VALUES (5), (3000000000); SET search_path TO ia",
       "SELECT v FROM isp WHERE v = 5 OR v = 3000000000", "SET search_path TO ib", By::kThisSession,
       "5,3000000000"},
      // Settings that change how string literals read.
      {"CREATE TABLE sc (id int, a text);"
       " INSERT INTO sc VALUES (1, 'x'' OR id = 2 --'), (2, 'y')",
       "SELECT id FROM sc WHERE a = 'x\\' OR id = 2 --'", "SET standard_conforming_strings = off",
       By::kThisSession, "1"},
      {"SET DateStyle = 'ISO, MDY'; CREATE TABLE dt (id int, d date);"
       " INSERT INTO dt VALUES (1, '2024-01-02'), (2, '2024-02-01')",
       "SELECT id FROM dt WHERE d = '01/02/2024'", "SET DateStyle = 'ISO, DMY'", By::kThisSession,
       "2"},
      {"SET TimeZone = 'UTC'; CREATE TABLE tz (id int, t timestamptz);"
       " INSERT INTO tz VALUES (1, '2024-01-01 00:00+00'), (2, '2024-01-01 00:00+05')",
       "SELECT id FROM tz WHERE t = '2024-01-01 00:00'", "SET TimeZone = 'Asia/Karachi'",
       By::kThisSession, "2"},
  };
  // Whether `o` is what `after` says: those rows, or an error whose message holds that text.
  const auto is = [](const Outcome& o, std::string_view after) {
    if (after.starts_with("error: ")) {
      return o.error.find(after.substr(7)) != std::string::npos;
    }
    std::string rows;
    for (const std::string& r : o.rows) rows += (rows.empty() ? "" : ",") + r;
    return o.error.empty() && rows == after;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    Exec(c.setup);
    const Outcome before = RunAsWritten(c.query);
    EXPECT_EQ(Run(c.query), before);
    EXPECT_EQ(Run(c.query), before);
    if (c.by == By::kThisSession) {
      Exec(c.change);
    } else {
      db_->Psql(c.change);
    }
    const Outcome after = RunAsWritten(c.query);
    EXPECT_TRUE(is(after, c.after)) << after;
    EXPECT_EQ(Run(c.query), after);
    EXPECT_EQ(Run(c.query), after);
    Exec("RESET ALL");
  }
}

TEST_F(PgStatementReuseTest, KeptStatementsStayRightThroughTransactionsErrorsAndStops) {
  Exec(
      "CREATE TABLE k (id int PRIMARY KEY, v int, pause int);"
      "INSERT INTO k VALUES (1, 10, 0), (2, 20, 30)");
  const std::string text = "SELECT v FROM k WHERE id = $1";
  const auto value_of = [this](int id) {
    return Open("SELECT v FROM k WHERE id = " + std::to_string(id))->Fields(0).AsInteger();
  };
  EXPECT_EQ(value_of(1), 10);
  const std::string name = Find(KeptStatements(), text)->name;

  // In a transaction block the text runs as written and sees the transaction's own changes; a
  // failed statement and ROLLBACK leave the kept statement as it was.
  connection_.StartTransaction();
  Exec("UPDATE k SET v = 11 WHERE id = 1");
  EXPECT_EQ(value_of(1), 11);
  EXPECT_NE(ErrorOf([&] { Open("SELECT v FROM k WHERE id = 'x'"); }), "");
  connection_.Rollback();
  EXPECT_EQ(value_of(1), 10);
  connection_.StartTransaction();
  Exec("UPDATE k SET v = 12 WHERE id = 1");
  connection_.Commit();
  EXPECT_EQ(value_of(1), 12);
  EXPECT_EQ(value_of(2), 20);

  // A value refused at binding; then the same statement with a good one.
  EXPECT_EQ(Run("SELECT v FROM k WHERE id = 'x'").error,
            RunAsWritten("SELECT v FROM k WHERE id = 'x'").error);
  EXPECT_EQ(value_of(2), 20);

  // Parameters of the client's own run as before: nothing new is kept.
  const size_t kept_count = KeptStatements().size();
  auto with_param = Query("SELECT v FROM k WHERE id = :id");
  with_param->Params().ParamByName("id").SetValue(OleVariant(int32_t{2}));
  with_param->Open();
  EXPECT_EQ(with_param->Fields(0).AsInteger(), 20);
  with_param.reset();
  EXPECT_EQ(KeptStatements().size(), kept_count);

  // A kept statement stopped by the time-out is not run again as written, and runs again after.
  const std::string paused = "SELECT pg_sleep(pause), v FROM k WHERE id = ";
  EXPECT_EQ(Open(paused + "1")->Fields(1).AsInteger(), 12);
  connection_.SetStatementTimeout(std::chrono::seconds(1));
  auto started = steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { Open(paused + "2"); }),
            "Statement stopped: it ran longer than the statement time-out of 1 s");
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(Open(paused + "1")->Fields(1).AsInteger(), 12);
  // Cancelled the same way.
  connection_.SetStatementTimeout(std::chrono::milliseconds(0));
  std::thread canceller([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    connection_.Interrupt();
  });
  started = steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { Open(paused + "2"); }), kStatementCancelledMessage);
  canceller.join();
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(5));
  connection_.ClearInterrupt();
  EXPECT_EQ(Open(paused + "1")->Fields(1).AsInteger(), 12);
  EXPECT_EQ(value_of(1), 12);
  EXPECT_EQ(Find(KeptStatements(), text)->name, name);  // the same statement all along
}

TEST_F(PgStatementReuseTest, TheLeastRecentlyUsedStatementIsClosedOnTheServer) {
  Exec("CREATE TABLE e (id int, v int); INSERT INTO e VALUES (1, 1)");
  const auto shape = [](int i) {
    return "SELECT v AS c" + std::to_string(i) + " FROM e WHERE id = ";
  };
  const int shapes = static_cast<int>(TPgConnection::kKeptStatements) + 8;
  for (int i = 0; i < shapes; ++i) {
    EXPECT_EQ(Open(shape(i) + "1")->RecordCount(), 1) << i;
  }
  // The last eviction is closed with the next statement sent.
  EXPECT_EQ(Open(shape(shapes - 1) + "2")->RecordCount(), 0);
  const std::vector<Kept> kept = KeptStatements();
  EXPECT_EQ(kept.size(), TPgConnection::kKeptStatements);
  EXPECT_EQ(Find(kept, shape(0) + "$1"), nullptr);
  EXPECT_NE(Find(kept, shape(shapes - 1) + "$1"), nullptr);
  // An evicted shape is prepared again.
  EXPECT_EQ(Open(shape(0) + "1")->RecordCount(), 1);
  EXPECT_NE(Find(KeptStatements(), shape(0) + "$1"), nullptr);
}

TEST_F(PgStatementReuseTest, ALostSessionIsNotRunAgainAndANewOneKeepsNothing) {
  Exec("CREATE TABLE l (id int, v int); INSERT INTO l VALUES (1, 5)");
  EXPECT_EQ(Open("SELECT v FROM l WHERE id = 1")->Fields(0).AsInteger(), 5);
  const std::string pid = Open("SELECT pg_backend_pid()")->Fields(0).AsString();
  db_->Psql("SELECT pg_terminate_backend(" + pid + ")");
  EXPECT_NE(ErrorOf([&] { Open("SELECT v FROM l WHERE id = 1"); }), "");
  EXPECT_NE(connection_.UnusableReason(), "");
  connection_.Close();
  connection_.Open();
  EXPECT_TRUE(KeptStatements().empty());
  EXPECT_EQ(Open("SELECT v FROM l WHERE id = 1")->Fields(0).AsInteger(), 5);
  EXPECT_EQ(KeptStatements().size(), 1u);
}

}  // namespace
}  // namespace velmora::test
