// The differential check's model of what it runs: tables with their rows, queries built from a
// small grammar, and the dialect each engine accepts. Everything is text with the placeholder
// kPrefix where a table's name starts, so that one case can be replayed on fresh tables (a
// replayed text is then new to the server and finds nothing kept from the first run).
//
// Thread rules: plain values; a generator belongs to one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::test::differential {

// Stands for the tables' name prefix in every text of the model.
inline constexpr const char* kPrefix = "@@";

// What the engine's column holds, for choosing values and literals that fit it.
enum class ValueClass {
  kInteger,
  kSmallInteger,
  kFloat,
  kNumeric,
  kText,
  kDate,
  kTime,
  kTimestamp,
  kTimestampTz,
  kBool
};

enum class Dialect { kSQLite, kPg };

struct ColumnType {
  const char* sql;  // as declared
  ValueClass values;
};

struct Column {
  std::string name;
  ColumnType type;
};

struct Table {
  std::string name;  // kPrefix + a letter
  std::vector<Column> columns;
  std::vector<std::vector<std::string>> rows;  // literals (NULL included), one per column

  std::string CreateText() const;
  std::string InsertText(size_t row) const;
};

// One SELECT of a query; every part is text.
struct Select {
  bool distinct = false;
  std::vector<std::string> items;  // "expression AS name" or a plain column
  std::string from;
  std::vector<std::string> where;  // joined by AND
  std::string group_by;
  std::string having;
};

struct Query {
  std::vector<Select> arms;  // several: joined by UNION
  bool union_all = false;
  std::string order_by;        // positions
  bool fully_ordered = false;  // ORDER BY names every output column: rows compare in order
  std::string limit;

  std::string Text() const;
};

// A change of the catalogue or of a session's settings between runs of the same texts.
struct Change {
  std::vector<std::string> statements;  // run once, in one session
  bool from_server = false;             // that session: the server's, else the engine's own
  std::vector<std::string> settings;    // then run in both sessions (the server's and the engine's)
  std::string what;                     // a line for the report
};

// Replaces kPrefix in `text` by `prefix`.
std::string WithPrefix(const std::string& text, const std::string& prefix);

// Reproducible: the same seed gives the same sequence on every machine (no <random>
// distributions, whose results differ between standard libraries).
class Prng {
 public:
  explicit Prng(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
  bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }
  template <typename T>
  const T& Pick(const std::vector<T>& from) {
    return from[Below(from.size())];
  }

 private:
  uint64_t state_;
};

class SqlGenerator {
 public:
  SqlGenerator(Dialect dialect, uint64_t seed) : dialect_(dialect), prng_(seed) {}

  // Two tables "a" and "b" of random column types and rows.
  std::vector<Table> MakeTables();
  Query MakeQuery(const std::vector<Table>& tables);
  // A change of the catalogue or of settings; `tables` is changed to what it describes.
  Change MakeChange(std::vector<Table>& tables);
  Prng& Random() { return prng_; }

 private:
  Table MakeTable(const std::string& letter);
  std::vector<std::vector<std::string>> MakeRows(const std::vector<Column>& columns);
  std::string Value(ValueClass c);    // a stored value
  std::string Literal(ValueClass c);  // a literal to compare with, boundary values included
  std::string Condition(const Table& t, const std::string& alias, const std::vector<Table>& all,
                        int depth);
  std::string Expression(const Table& t, const std::string& alias);
  Select MakeSelect(const std::vector<Table>& tables, size_t& width, bool allow_join);
  ColumnType OtherType(const ColumnType& than);

  Dialect dialect_;
  Prng prng_;
  int column_serial_ = 0;
};

}  // namespace velmora::test::differential
