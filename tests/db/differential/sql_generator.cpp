#include <algorithm>
#include <utility>

#include "tests/db/differential/sql_model.h"

namespace velmora::test::differential {
namespace {

using Strings = std::vector<std::string>;

std::vector<ColumnType> ColumnTypes(Dialect dialect) {
  if (dialect == Dialect::kSQLite) {
    return {{"INTEGER", ValueClass::kInteger},
            {"INT", ValueClass::kSmallInteger},
            {"SMALLINT", ValueClass::kSmallInteger},
            {"REAL", ValueClass::kFloat},
            {"DOUBLE", ValueClass::kFloat},
            {"NUMERIC", ValueClass::kNumeric},
            {"DECIMAL(30,3)", ValueClass::kNumeric},
            {"TEXT", ValueClass::kText},
            {"VARCHAR(10)", ValueClass::kText},
            {"CHAR(4)", ValueClass::kText},
            {"DATE", ValueClass::kDate},
            {"TIME", ValueClass::kTime},
            {"DATETIME", ValueClass::kTimestamp},
            {"BOOLEAN", ValueClass::kBool}};
  }
  return {{"bigint", ValueClass::kInteger},
          {"integer", ValueClass::kSmallInteger},
          {"smallint", ValueClass::kSmallInteger},
          {"real", ValueClass::kFloat},
          {"double precision", ValueClass::kFloat},
          {"numeric", ValueClass::kNumeric},
          {"numeric(30,3)", ValueClass::kNumeric},
          {"text", ValueClass::kText},
          {"varchar(10)", ValueClass::kText},
          {"char(4)", ValueClass::kText},
          {"date", ValueClass::kDate},
          {"time", ValueClass::kTime},
          {"timestamp", ValueClass::kTimestamp},
          {"timestamptz", ValueClass::kTimestampTz},
          {"boolean", ValueClass::kBool}};
}

// Stored values: each fits every column type of its class, boundaries included.
Strings StoredValues(ValueClass c, Dialect d) {
  switch (c) {
    case ValueClass::kInteger:
      return {"0",
              "1",
              "-1",
              "42",
              "9223372036854775807",
              "-9223372036854775808",
              "1553255926290448384"};
    case ValueClass::kSmallInteger:
      return {"0", "1", "-1", "7", "32767", "-32768"};
    case ValueClass::kFloat:
      return {"0", "0.1", "1.5", "-2.5", "1e20", "3"};
    case ValueClass::kNumeric:
      return {"0", "1.5", "-0.01", "12345678901234567890", "100"};
    case ValueClass::kText:
      return {"''", "' '", "'ab'", "'ab  '", "'Zed'", "'it''s'", "'a%_'"};
    case ValueClass::kDate:
      return {"'2024-01-01'", "'1999-12-31'", "'2024-02-29'"};
    case ValueClass::kTime:
      return {"'10:00:00'", "'23:59:59.999'", "'00:00:00'"};
    case ValueClass::kTimestamp:
      return {"'2024-01-01 10:00:00'", "'2024-01-01 11:00:00.123'", "'1999-12-31 23:59:59'"};
    case ValueClass::kTimestampTz:
      return {"'2024-01-01 10:00:00+00'", "'2024-01-01 11:00:00+01'", "'2024-06-30 12:00:00-07'"};
    case ValueClass::kBool:
      if (d == Dialect::kSQLite) return {"0", "1"};
      return {"true", "false"};
  }
  return {"NULL"};
}

// Literals to compare with: the stored values and the boundaries around them, some only one
// engine reads.
Strings CompareLiterals(ValueClass c, Dialect d) {
  Strings out = StoredValues(c, d);
  switch (c) {
    case ValueClass::kInteger:
    case ValueClass::kSmallInteger:
      out.insert(out.end(), {"-0", "+1", "9223372036854775808", "18446744073709551616",
                             "20000000000000000000", "-18446744073709551617",
                             "-9223372036854775809", "2e19", "1.5", "'1'", "'1.5'", "2147483648"});
      if (d == Dialect::kSQLite) out.insert(out.end(), {"0x10", "-0x1"});
      break;
    case ValueClass::kFloat:
      out.insert(out.end(), {"'0.1'", "1e-7", "-0.0", "1E+20", "100000000000000000000"});
      break;
    case ValueClass::kNumeric:
      out.insert(out.end(), {"'1.5'", "100.000", "12345678901234567891", "-0"});
      break;
    case ValueClass::kText:
      out.insert(out.end(), {"'AB'", "'ab '", "'Zed  '"});
      if (d == Dialect::kPg) out.insert(out.end(), {"'a\\b'", "E'ab\\x20\\x20'"});
      break;
    case ValueClass::kDate:
      out.insert(out.end(), {"'2024-01-01 00:00'", "'2024-01-02'"});
      if (d == Dialect::kPg) out.insert(out.end(), {"'01/02/2024'", "'12/31/1999'"});
      break;
    case ValueClass::kTime:
      out.insert(out.end(), {"'10:00'", "'12:00:00'"});
      break;
    case ValueClass::kTimestamp:
    case ValueClass::kTimestampTz:
      out.insert(out.end(), {"'2024-01-01 11:00+01'", "'2024-01-01 10:00:00'", "'2024-01-01'",
                             "'2024-01-01 11:00:00.123'"});
      break;
    case ValueClass::kBool:
      out.insert(out.end(), {"'t'", "'yes'"});
      break;
  }
  return out;
}

bool Numeric(ValueClass c) {
  return c == ValueClass::kInteger || c == ValueClass::kSmallInteger || c == ValueClass::kFloat ||
         c == ValueClass::kNumeric;
}

constexpr ValueClass kAllClasses[] = {
    ValueClass::kInteger,     ValueClass::kSmallInteger, ValueClass::kFloat, ValueClass::kNumeric,
    ValueClass::kText,        ValueClass::kDate,         ValueClass::kTime,  ValueClass::kTimestamp,
    ValueClass::kTimestampTz, ValueClass::kBool};

std::string Join(const Strings& parts, const char* glue) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? glue : "") + parts[i];
  return out;
}

std::string Ref(const std::string& alias, const Column& c) {
  return alias.empty() ? c.name : alias + "." + c.name;
}

// Classes a column's type is most often changed between: the changes where a value read by the
// old type and by the new one differ least visibly (text and fixed-width text, times with and
// without zone, 4- and 8-byte floats, decimals and integers).
int Kin(ValueClass c) {
  switch (c) {
    case ValueClass::kText:
      return 0;
    case ValueClass::kDate:
    case ValueClass::kTimestamp:
    case ValueClass::kTimestampTz:
      return 1;
    case ValueClass::kInteger:
    case ValueClass::kSmallInteger:
    case ValueClass::kFloat:
    case ValueClass::kNumeric:
      return 2;
    default:
      return 3 + static_cast<int>(c);
  }
}

}  // namespace

std::string Table::CreateText() const {
  Strings parts;
  for (const Column& c : columns) parts.push_back(c.name + " " + c.type.sql);
  return "CREATE TABLE " + name + " (" + Join(parts, ", ") + ")";
}

std::string Table::InsertText(size_t row) const {
  Strings names;
  for (const Column& c : columns) names.push_back(c.name);
  return "INSERT INTO " + name + " (" + Join(names, ", ") + ") VALUES (" + Join(rows[row], ", ") +
         ")";
}

std::string Query::Text() const {
  Strings arms_text;
  for (const Select& s : arms) {
    std::string t = std::string("SELECT ") + (s.distinct ? "DISTINCT " : "") + Join(s.items, ", ") +
                    " FROM " + s.from;
    if (!s.where.empty()) t += " WHERE " + Join(s.where, " AND ");
    if (!s.group_by.empty()) t += " GROUP BY " + s.group_by;
    if (!s.having.empty()) t += " HAVING " + s.having;
    arms_text.push_back(std::move(t));
  }
  std::string t = Join(arms_text, union_all ? " UNION ALL " : " UNION ");
  if (!order_by.empty()) t += " ORDER BY " + order_by;
  if (!limit.empty()) t += " LIMIT " + limit;
  return t;
}

std::string WithPrefix(const std::string& text, const std::string& prefix) {
  std::string out;
  const std::string_view mark = kPrefix;
  size_t from = 0;
  for (size_t at; (at = text.find(mark, from)) != std::string::npos; from = at + mark.size()) {
    out.append(text, from, at - from);
    out += prefix;
  }
  out.append(text, from);
  return out;
}

uint64_t Prng::Next() {
  // SplitMix64.
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::vector<Table> SqlGenerator::MakeTables() {
  return {MakeTable("a"), MakeTable("b")};
}

Table SqlGenerator::MakeTable(const std::string& letter) {
  Table t;
  t.name = std::string(kPrefix) + letter;
  const std::vector<ColumnType> types = ColumnTypes(dialect_);
  const size_t n = 2 + prng_.Below(3);
  for (size_t i = 0; i < n; ++i) {
    // The first column an integer, as most tables' keys are: where lifted integers meet them.
    ColumnType type = prng_.Pick(types);
    while (i == 0 && type.values != ValueClass::kInteger &&
           type.values != ValueClass::kSmallInteger) {
      type = prng_.Pick(types);
    }
    t.columns.push_back({letter + std::to_string(i), type});
  }
  t.rows = MakeRows(t.columns);
  return t;
}

std::vector<std::vector<std::string>> SqlGenerator::MakeRows(const std::vector<Column>& columns) {
  std::vector<std::vector<std::string>> rows(2 + prng_.Below(6));
  for (auto& row : rows) {
    for (const Column& c : columns) row.push_back(Value(c.type.values));
  }
  return rows;
}

std::string SqlGenerator::Value(ValueClass c) {
  if (prng_.Chance(12)) return "NULL";
  return prng_.Pick(StoredValues(c, dialect_));
}

std::string SqlGenerator::Literal(ValueClass c) {
  if (prng_.Chance(8)) {
    const ValueClass other = kAllClasses[prng_.Below(std::size(kAllClasses))];
    if (dialect_ == Dialect::kPg || other != ValueClass::kTimestampTz) c = other;
  }
  if (dialect_ == Dialect::kSQLite && c == ValueClass::kTimestampTz) c = ValueClass::kTimestamp;
  if ((c == ValueClass::kInteger || c == ValueClass::kSmallInteger) && prng_.Chance(35)) {
    // Integers just past the 64-bit range, where a literal read as int64 would wrap or clip.
    static const std::vector<std::string> kPast = {"9223372036854775808",   "18446744073709551616",
                                                   "18446744073709551617",  "20000000000000000000",
                                                   "-18446744073709551617", "-9223372036854775809",
                                                   "36893488147419103232",  "99999999999999999999"};
    return prng_.Pick(kPast);
  }
  return prng_.Pick(CompareLiterals(c, dialect_));
}

std::string SqlGenerator::Expression(const Table& t, const std::string& alias) {
  const Column& c = prng_.Pick(t.columns);
  const std::string ref = Ref(alias, c);
  switch (prng_.Below(7)) {
    case 0:
      return Numeric(c.type.values) ? ref + " + 1" : ref;
    case 1:
      return c.type.values == ValueClass::kText ? "UPPER(" + ref + ")" : ref;
    case 2:
      return "CASE WHEN " + Condition(t, alias, {}, 1) + " THEN " + ref + " ELSE NULL END";
    case 3:
      return "COALESCE(" + ref + ", " + Literal(c.type.values) + ")";
    case 4:
      return Literal(c.type.values);
    default:
      return ref;
  }
}

std::string SqlGenerator::Condition(const Table& t, const std::string& alias,
                                    const std::vector<Table>& all, int depth) {
  static const Strings kOperators = {"=", "<>", "!=", "<", "<=", ">", ">="};
  const Column& c = prng_.Chance(30) ? t.columns[0] : prng_.Pick(t.columns);
  const std::string ref = Ref(alias, c);
  const ValueClass v = c.type.values;
  const size_t kind = prng_.Below(depth > 0 ? 9 : 12);
  switch (kind) {
    case 0:
      return ref + (prng_.Chance(50) ? " IS NULL" : " IS NOT NULL");
    case 1:
      return ref + (prng_.Chance(20) ? " NOT" : "") + " BETWEEN " + Literal(v) + " AND " +
             Literal(v);
    case 2:
      return ref + " IN (" + Literal(v) + ", " + Literal(v) + ")";
    case 3: {
      static const Strings kPatterns = {"'a%'", "'%b%'", "'_b'", "'ab  '", "'%'", "'a\\%%'"};
      if (v == ValueClass::kText) return ref + " LIKE " + prng_.Pick(kPatterns);
      return ref + " = " + Literal(v);
    }
    case 4: {
      // Another column of the same table, of the same class where there is one.
      std::vector<const Column*> same;
      for (const Column& o : t.columns) {
        if (o.type.values == v && o.name != c.name) same.push_back(&o);
      }
      const Column& o = same.empty() ? c : *same[prng_.Below(same.size())];
      return ref + " " + prng_.Pick(kOperators) + " " + Ref(alias, o);
    }
    case 5:
      if (depth > 1) break;
      return "NOT (" + Condition(t, alias, all, depth + 1) + ")";
    case 6:
      if (depth > 1) break;
      return "(" + Condition(t, alias, all, depth + 1) + " OR " +
             Condition(t, alias, all, depth + 1) + ")";
    case 9:
    case 10:
    case 11: {
      // A sub-query on the other table.
      const Table& other = all.back().name == t.name ? all.front() : all.back();
      std::vector<const Column*> same;
      for (const Column& o : other.columns) {
        if (o.type.values == v) same.push_back(&o);
      }
      if (same.empty() && kind != 11) return ref + " IS NULL";
      const Column& o = same.empty() ? other.columns[0] : *same[prng_.Below(same.size())];
      if (kind == 9) return ref + " IN (SELECT " + o.name + " FROM " + other.name + ")";
      if (kind == 10) {
        return ref + " " + prng_.Pick(kOperators) + " (SELECT MAX(" + o.name + ") FROM " +
               other.name + ")";
      }
      return "EXISTS (SELECT 1 FROM " + other.name + " WHERE " + Condition(other, "", all, 2) + ")";
    }
    default:
      break;
  }
  std::string op = prng_.Pick(kOperators);
  if (dialect_ == Dialect::kSQLite && op == "=" && prng_.Chance(20)) op = "==";
  return ref + " " + op + " " + Literal(v);
}

Select SqlGenerator::MakeSelect(const std::vector<Table>& tables, size_t& width, bool allow_join) {
  Select s;
  const Table& a = tables[prng_.Below(tables.size())];
  const Table& b = a.name == tables[0].name ? tables[1] : tables[0];
  const bool join = allow_join && prng_.Chance(25);
  const std::string alias = join ? "x" : "";
  s.from = a.name;
  if (join) {
    const Column& left = prng_.Pick(a.columns);
    const Column* right = nullptr;
    for (const Column& o : b.columns) {
      if (o.type.values == left.type.values) right = &o;
    }
    // Columns of unlike types would only give both sides the same refusal.
    if (right == nullptr) right = &b.columns[0];
    if (Kin(right->type.values) != Kin(left.type.values)) return MakeSelect(tables, width, false);
    s.from = a.name + " x " + (prng_.Chance(30) ? "LEFT JOIN " : "JOIN ") + b.name + " y ON x." +
             left.name + " = y." + right->name;
  }
  if (!join && prng_.Chance(15)) {
    // Groups: a column, a count, an aggregate of another column.
    const Column& g = prng_.Pick(a.columns);
    const Column& m = prng_.Pick(a.columns);
    s.items = {g.name, "COUNT(*) AS n",
               m.type.values == ValueClass::kBool ? "COUNT(" + m.name + ") AS m"
                                                  : "MAX(" + m.name + ") AS m"};
    s.group_by = g.name;
    if (prng_.Chance(50)) s.having = "COUNT(*) " + prng_.Pick(Strings{">", ">=", "="}) + " 1";
  } else {
    const size_t n = 1 + prng_.Below(4);
    bool unnamed_expression = false;
    for (size_t i = 0; i < n; ++i) {
      std::string e =
          prng_.Chance(30) && join ? Ref("y", prng_.Pick(b.columns)) : Expression(a, alias);
      const bool plain = !join && e.find_first_of(" (',") == std::string::npos && !e.empty() &&
                         e[0] >= 'a' && e[0] <= 'z' &&
                         std::none_of(s.items.begin(), s.items.end(),
                                      [&](const std::string& x) { return x == e; });
      if (!plain && (unnamed_expression || join || prng_.Chance(75))) {
        e += " AS e" + std::to_string(i);
      } else if (!plain) {
        unnamed_expression = true;
      }
      s.items.push_back(std::move(e));
    }
    s.distinct = prng_.Chance(10);
  }
  const size_t conditions = prng_.Chance(15) ? 0 : 1 + prng_.Below(2);
  for (size_t i = 0; i < conditions; ++i) s.where.push_back(Condition(a, alias, tables, 0));
  width = s.items.size();
  return s;
}

Query SqlGenerator::MakeQuery(const std::vector<Table>& tables) {
  Query q;
  size_t width = 0;
  if (prng_.Chance(30)) {
    // As clients write most: a count, or the key, of the rows one column compares with a
    // literal, often written as a string.
    static const Strings kOperators = {"=", "=", "<>", "<", "<=", ">", ">="};
    const Table& t = prng_.Pick(tables);
    const Column& c = prng_.Pick(t.columns);
    std::string literal = Literal(c.type.values);
    if (literal[0] != '\'' && literal[0] != 'E' && prng_.Chance(60)) literal = "'" + literal + "'";
    Select s;
    s.items = {prng_.Chance(60) ? std::string("COUNT(*) AS n") : t.columns[0].name};
    s.from = t.name;
    s.where = {c.name + " " + prng_.Pick(kOperators) + " " + literal};
    q.arms.push_back(std::move(s));
    if (q.arms[0].items[0] != "COUNT(*) AS n") {
      q.order_by = "1";
      q.fully_ordered = true;
    }
    return q;
  }
  q.arms.push_back(MakeSelect(tables, width, true));
  if (q.arms[0].group_by.empty() && prng_.Chance(12)) {
    // The same columns under another condition.
    Select second = q.arms[0];
    const bool join = second.from.find(' ') != std::string::npos;
    const std::string first = second.from.substr(0, second.from.find(' '));
    second.where = {
        Condition(tables[0].name == first ? tables[0] : tables[1], join ? "x" : "", tables, 0)};
    q.arms.push_back(std::move(second));
    q.union_all = prng_.Chance(50);
  }
  if (prng_.Chance(60)) {
    Strings positions;
    for (size_t i = 1; i <= width; ++i) positions.push_back(std::to_string(i));
    if (prng_.Chance(25)) std::reverse(positions.begin(), positions.end());
    if (prng_.Chance(20) && positions.size() > 1) {
      positions.pop_back();
    } else {
      q.fully_ordered = true;
      if (prng_.Chance(30)) q.limit = std::to_string(prng_.Below(4));
    }
    if (prng_.Chance(20)) positions.back() += " DESC";
    q.order_by = Join(positions, ", ");
  }
  return q;
}

ColumnType SqlGenerator::OtherType(const ColumnType& than) {
  const std::vector<ColumnType> types = ColumnTypes(dialect_);
  const bool kin = prng_.Chance(85);
  for (;;) {
    const ColumnType& t = prng_.Pick(types);
    if (std::string_view(t.sql) == than.sql) continue;
    if (!kin || Kin(t.values) == Kin(than.values) || prng_.Chance(5)) return t;
  }
}

Change SqlGenerator::MakeChange(std::vector<Table>& tables) {
  Change change;
  change.from_server = prng_.Chance(50);
  Table& t = tables[prng_.Below(tables.size())];
  const size_t kinds = dialect_ == Dialect::kPg ? 9 : 5;
  switch (prng_.Below(kinds)) {
    case 0: {
      Column added{
          t.name.substr(std::string(kPrefix).size()) + std::to_string(10 + column_serial_++),
          prng_.Pick(ColumnTypes(dialect_))};
      change.statements = {"ALTER TABLE " + t.name + " ADD COLUMN " + added.name + " " +
                           added.type.sql};
      change.what = "add a column";
      t.columns.push_back(added);
      for (auto& row : t.rows) row.push_back("NULL");
      break;
    }
    case 1: {
      if (t.columns.size() < 2) return MakeChange(tables);
      const size_t drop = prng_.Below(t.columns.size());
      change.statements = {"ALTER TABLE " + t.name + " DROP COLUMN " + t.columns[drop].name};
      change.what = "drop a column";
      t.columns.erase(t.columns.begin() + static_cast<std::ptrdiff_t>(drop));
      for (auto& row : t.rows) row.erase(row.begin() + static_cast<std::ptrdiff_t>(drop));
      break;
    }
    case 2:
    case 3: {
      // The same names, other types, other rows.
      // One column (sometimes two) takes another type: the rest of a query's columns keep
      // theirs, as a kept statement's result must.
      Column& changed = t.columns[prng_.Below(t.columns.size())];
      changed.type = OtherType(changed.type);
      if (prng_.Chance(30)) {
        Column& also = t.columns[prng_.Below(t.columns.size())];
        also.type = OtherType(also.type);
      }
      t.rows = MakeRows(t.columns);
      change.statements = {"DROP TABLE " + t.name, t.CreateText()};
      for (size_t r = 0; r < t.rows.size(); ++r) change.statements.push_back(t.InsertText(r));
      change.what = "drop and create with other types";
      break;
    }
    case 4: {
      // The name comes to mean a view of fewer rows.
      const std::string base = t.name + "_base";
      change.statements = {"ALTER TABLE " + t.name + " RENAME TO " + base.substr(0),
                           "CREATE VIEW " + t.name + " AS SELECT * FROM " + base + " WHERE " +
                               Condition(t, "", {t}, 2)};
      change.what = "replace by a view";
      break;
    }
    case 5: {
      // The same name found first in another schema, with other types.
      const std::string schema = std::string(kPrefix) + "s" + std::to_string(column_serial_++);
      Table moved = t;
      for (Column& c : moved.columns) c.type = OtherType(c.type);
      moved.rows = MakeRows(moved.columns);
      moved.name = schema + "." + t.name;
      change.statements = {"CREATE SCHEMA " + schema, moved.CreateText()};
      for (size_t r = 0; r < moved.rows.size(); ++r)
        change.statements.push_back(moved.InsertText(r));
      change.settings = {"SET search_path = " + schema + ", public"};
      change.what = "search_path to a schema with another table of the same name";
      moved.name = t.name;
      t = std::move(moved);
      break;
    }
    case 6:
      change.settings = {
          prng_.Pick(Strings{"SET DateStyle = 'ISO, DMY'", "SET DateStyle = 'ISO, MDY'",
                             "SET DateStyle = 'ISO, YMD'"})};
      change.what = "DateStyle";
      break;
    case 7:
      change.settings = {
          prng_.Pick(Strings{"SET TimeZone = 'Asia/Kolkata'", "SET TimeZone = 'America/New_York'",
                             "SET TimeZone = 'UTC'"})};
      change.what = "TimeZone";
      break;
    default:
      change.settings = {prng_.Chance(50) ? "SET standard_conforming_strings = off"
                                          : "SET standard_conforming_strings = on"};
      change.what = "standard_conforming_strings";
      break;
  }
  return change;
}

}  // namespace velmora::test::differential
