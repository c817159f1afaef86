// The comparison of an engine's outcome with the server's: what it must take as equal (the same
// value in another text form) and what it must report (any other value, row, name or type).
#include "tests/db/differential/outcome.h"

#include <gtest/gtest.h>

namespace velmora::test::differential {
namespace {

struct CellCase {
  Family family;
  const char* engine;  // nullptr: NULL
  const char* server;
  bool same;
};

Outcome OneCell(Family family, const char* value) {
  Outcome o;
  o.names = {"v"};
  o.families = {family};
  o.rows = {{value ? Cell(value) : Cell()}};
  return o;
}

TEST(DifferentialOutcome, CellsEqualOnlyWhenTheirValuesAre) {
  const CellCase cases[] = {
      {Family::kInteger, "-0", "0", true},
      {Family::kInteger, "18446744073709551616", "0", false},
      {Family::kInteger, "1553255926290448384", "1553255926290448385", false},
      {Family::kDecimal, "1.50", "1.5", true},
      {Family::kDecimal, "12345678901234567890", "12345678901234567891", false},
      {Family::kDecimal, "1.23456789012346e+19", "12345678901234567000", true},
      {Family::kFloat, "0.1", "0.1", true},
      {Family::kFloat, "0.1", "0.10000000149011612", false},
      {Family::kFloat4, "0.1", "0.10000000149011612", true},
      {Family::kBool, "t", "1", true},
      {Family::kBool, "f", "1", false},
      {Family::kText, "ab  ", "ab", false},
      {Family::kText, nullptr, "", false},
      {Family::kDateTime, "2024-01-01 11:00:00+01", "2024-01-01 10:00:00.000", true},
      {Family::kDateTime, "2024-01-01 05:30:00+05:30", "2024-01-01 00:00:00.000", true},
      {Family::kDateTime, "2024-01-01 00:30:00+01", "2023-12-31 23:30:00.000", true},
      {Family::kDateTime, "2024-01-01 11:00:00.1239", "2024-01-01 11:00:00.123", true},
      {Family::kDateTime, "2024-01-01 11:00:00", "2024-01-01 10:00:00.000", false},
      {Family::kDate, "2024-02-29", "2024-02-29", true},
      {Family::kTime, "23:59:59.999", "23:59:59.999", true},
      {Family::kTime, "10:00:00", "10:00:00.001", false},
  };
  for (const CellCase& c : cases) {
    const std::string d =
        Difference(OneCell(c.family, c.engine), OneCell(c.family, c.server), true);
    EXPECT_EQ(d.empty(), c.same) << FamilyName(c.family) << " " << (c.engine ? c.engine : "NULL")
                                 << " vs " << c.server << ": " << d;
  }
}

TEST(DifferentialOutcome, RowsNamesTypesAndFailures) {
  Outcome engine;
  engine.names = {"a", "b"};
  engine.families = {Family::kInteger, Family::kText};
  engine.rows = {{Cell("1"), Cell("x")}, {Cell("2"), Cell()}};
  Outcome server = engine;
  std::swap(server.rows[0], server.rows[1]);
  EXPECT_EQ(Difference(engine, server, false), "");
  EXPECT_NE(Difference(engine, server, true), "");

  Outcome renamed = engine;
  renamed.names[1] = "B";
  EXPECT_NE(Difference(engine, renamed, true), "");
  Outcome retyped = engine;
  retyped.families[0] = Family::kFloat;
  EXPECT_NE(Difference(engine, retyped, true), "");
  Outcome fewer = engine;
  fewer.rows.pop_back();
  EXPECT_NE(Difference(engine, fewer, false), "");

  // Rows of 4-byte floats in another order and another text: paired by value.
  Outcome floats;
  floats.names = {"f"};
  floats.families = {Family::kFloat4};
  floats.rows = {{Cell("0.1")}, {Cell("1e+20")}, {Cell("-2.5")}};
  Outcome server_floats = floats;
  server_floats.rows = {
      {Cell("1.0000000200408773e+20")}, {Cell("-2.5")}, {Cell("0.10000000149011612")}};
  EXPECT_EQ(Difference(floats, server_floats, false), "");
  server_floats.rows[1] = {Cell("2.5")};
  EXPECT_NE(Difference(floats, server_floats, false), "");

  Outcome failed;
  failed.failed = true;
  failed.error = "no such table";
  EXPECT_NE(Difference(engine, failed, false), "");
  EXPECT_NE(Difference(failed, engine, false), "");
  EXPECT_EQ(Difference(failed, failed, false), "");

  // A declared decimal the server gives as an integer (numeric(p,0)); a SQLite expression, which
  // has no declared type, takes the server's.
  Outcome decimal = engine;
  decimal.families = {Family::kDecimal, Family::kNone};
  EXPECT_EQ(Difference(decimal, engine, true), "");
}

}  // namespace
}  // namespace velmora::test::differential
