// Each field type both ways on every engine: a value written through a parameter and as an SQL
// literal, NULL written both ways, the value bound to a "?" marker, all read back with their
// field type and value. What an engine
// does differently is written in its column of the table.
#include <fmt/core.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "data/params.h"
#include "db/core/positional_markers.h"
#include "tests/db/conformance/conformance_fixture.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

// One engine's column for a type.
struct Column {
  const char* declared = nullptr;  // nullptr: the engine has no such type (`note` says why)
  TFieldType type = ftUnknown;     // the field type it reads back as
  const char* literal = nullptr;   // the value as SQL; nullptr: the row's literal
  const char* text = nullptr;      // the value read back, as text; nullptr: the row's text
  const char* note = nullptr;      // how the engine differs, in words
};

struct TypeRow {
  const char* name;
  OleVariant value;                     // bound as a parameter
  TFieldType param_type;                // ftUnknown: taken from the value
  std::string literal;                  // empty: the value's text, quoted
  std::string text;                     // read back as; empty: the value's text
  std::array<Column, kEngineCount> on;  // in EngineId order
};

const Column kReadOnly{nullptr, ftUnknown, nullptr, nullptr, "read-only"};

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

const std::string kBytes("\0\xFF;\x01'", 5);
const std::string kLongText = "line 1\nzeile 2 ü 中文 " + std::string(5000, 'm') + " end";
const char* const kUnpadded = "SQLite keeps text as given: CHAR(n) is not padded";

std::vector<TypeRow> TypeRows() {
  using E = Column;
  return {
      {"smallint",
       OleVariant(int16_t{-32768}),
       ftSmallint,
       "-32768",
       "",
       {E{"SMALLINT", ftSmallint}, E{"SMALLINT", ftSmallint}, E{"smallint", ftSmallint},
        E{"SMALLINT", ftSmallint}, E{"smallint", ftSmallint}, kReadOnly}},
      {"integer",
       OleVariant(int32_t{2147483647}),
       ftUnknown,
       "2147483647",
       "",
       {E{"INT", ftInteger, nullptr, nullptr, "INTEGER is SQLite's 64-bit type; INT is 32-bit"},
        E{"INTEGER", ftInteger}, E{"integer", ftInteger}, E{"INTEGER", ftInteger},
        E{"integer", ftInteger}, kReadOnly}},
      {"bigint",
       OleVariant(int64_t{-9223372036854775807LL}),
       ftUnknown,
       "-9223372036854775807",
       "",
       {E{"BIGINT", ftLargeint}, E{"BIGINT", ftLargeint}, E{"bigint", ftLargeint},
        E{"BIGINT", ftLargeint}, E{"bigint", ftLargeint}, kReadOnly}},
      {"decimal",
       OleVariant(BcdValue{"-1234567890.25", 12, 2}),
       ftUnknown,
       "-1234567890.25",
       "",
       {E{"NUMERIC(12,2)", ftFMTBcd}, E{"NUMERIC(12,2)", ftFMTBcd}, E{"numeric(12,2)", ftFMTBcd},
        E{"DECIMAL(12,2)", ftFMTBcd}, E{"numeric(12,2)", ftFMTBcd}, kReadOnly}},
      {"double",
       OleVariant(0.1),
       ftUnknown,
       "0.1",
       "",
       {E{"DOUBLE PRECISION", ftFloat}, E{"DOUBLE PRECISION", ftFloat},
        E{"double precision", ftFloat}, E{"DOUBLE", ftFloat}, E{"double precision", ftFloat},
        kReadOnly}},
      {"boolean",
       OleVariant(true),
       ftUnknown,
       "",
       "True",
       {E{"BOOLEAN", ftBoolean, "1"}, E{"BOOLEAN", ftBoolean, "TRUE"},
        E{"boolean", ftBoolean, "TRUE"}, E{"BIT", ftBoolean, "1"}, E{"boolean", ftBoolean, "TRUE"},
        kReadOnly}},
      {"varchar",
       OleVariant("中文 añ€😀"),
       ftUnknown,
       "",
       "",
       {E{"VARCHAR(20)", ftWideString}, E{"VARCHAR(20)", ftWideString},
        E{"varchar(20)", ftWideString}, E{"VARCHAR(20)", ftWideString},
        E{"varchar(20)", ftWideString}, kReadOnly}},
      {"char",
       OleVariant("ab"),
       ftUnknown,
       "",
       "ab ",
       {E{"CHAR(3)", ftFixedWideChar, nullptr, "ab", kUnpadded}, E{"CHAR(3)", ftFixedWideChar},
        E{"char(3)", ftFixedWideChar}, E{"CHAR(3)", ftFixedWideChar, nullptr, "ab", kUnpadded},
        E{"char(3)", ftFixedWideChar}, kReadOnly}},
      {"memo",
       OleVariant(kLongText),
       ftUnknown,
       "",
       "",
       {E{"TEXT", ftWideMemo}, E{"BLOB SUB_TYPE TEXT", ftWideMemo}, E{"text", ftWideMemo},
        E{"TEXT", ftWideMemo}, E{"text", ftWideMemo}, kReadOnly}},
      {"blob",
       OleVariant::Bytes(kBytes),
       ftBlob,
       "",
       kBytes,
       {E{"BLOB", ftBlob, "X'00FF3B0127'"}, E{"BLOB SUB_TYPE BINARY", ftBlob, "X'00FF3B0127'"},
        E{"bytea", ftBlob, "CAST('\\x00ff3b0127' AS bytea)"}, E{"BLOB", ftBlob, "X'00FF3B0127'"},
        E{"bytea", ftBlob, "CAST('\\x00ff3b0127' AS bytea)"}, kReadOnly}},
      {"date",
       OleVariant::Date(EncodeDateTime({2024, 2, 29})),
       ftDate,
       "",
       "2024-02-29",
       {E{"DATE", ftDate, "'2024-02-29'"}, E{"DATE", ftDate, "DATE '2024-02-29'"},
        E{"date", ftDate, "DATE '2024-02-29'"}, E{"DATE", ftDate, "'2024-02-29'"},
        E{"date", ftDate, "DATE '2024-02-29'"}, kReadOnly}},
      {"time",
       OleVariant::Date(EncodeDateTime({1899, 12, 30, 13, 45, 10, 0})),
       ftTime,
       "",
       "1899-12-30 13:45:10",
       {E{"TIME", ftTime, "'13:45:10'"}, E{"TIME", ftTime, "TIME '13:45:10'"},
        E{"time", ftTime, "TIME '13:45:10'"}, E{"TIME", ftTime, "'13:45:10'"},
        E{"time", ftTime, "TIME '13:45:10'"}, kReadOnly}},
      {"timestamp",
       OleVariant::Date(EncodeDateTime({2024, 2, 29, 13, 45, 10, 7})),
       ftDateTime,
       "",
       "2024-02-29 13:45:10.007",
       {E{"TIMESTAMP", ftDateTime, "'2024-02-29 13:45:10.007'"},
        E{"TIMESTAMP", ftDateTime, "TIMESTAMP '2024-02-29 13:45:10.007'"},
        E{"timestamp", ftDateTime, "TIMESTAMP '2024-02-29 13:45:10.007'"},
        E{"TIMESTAMP", ftDateTime, "'2024-02-29 13:45:10.007'"},
        E{"timestamp", ftDateTime, "TIMESTAMP '2024-02-29 13:45:10.007'"}, kReadOnly}},
      {"guid",
       OleVariant("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"),
       ftUnknown,
       "",
       "{A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11}",
       {E{"GUID", ftGuid}, E{nullptr, ftUnknown, nullptr, nullptr, "Firebird has no GUID type"},
        E{"uuid", ftGuid}, E{"GUID", ftGuid}, E{"uuid", ftGuid}, kReadOnly}},
  };
}

using Types = Conformance;

TEST_P(Types, EachTypeBothWaysAndNull) {
  SKIP_IF_ENGINE_LACKS(writes);
  const size_t engine_index = static_cast<size_t>(engine().id);
  for (const TypeRow& row : TypeRows()) {
    const Column& column = row.on[engine_index];
    SCOPED_TRACE(fmt::format("type row \"{}\" on {}{}{}", row.name, engine().name,
                             column.note ? ": " : "", column.note ? column.note : ""));
    if (column.declared == nullptr) continue;  // the engine has no such type
    const std::string table = fmt::format("TY_{}", row.name);
    Exec(fmt::format("CREATE TABLE {} (ID INTEGER NOT NULL PRIMARY KEY, C {})", table,
                     column.declared));

    // 1: the value as a parameter; 2: as a literal; 3: NULL as a parameter; 4: NULL as a literal.
    TFDQuery insert;
    insert.SetConnection(&connection_);
    insert.SQL().SetText(fmt::format("INSERT INTO {} (ID, C) VALUES (:ID, :C)", table));
    insert.ParamByName("ID").SetValue(OleVariant(int32_t{1}));
    TParam& param = insert.ParamByName("C");
    param.DataType = row.param_type;
    param.SetValue(row.value);
    insert.ExecSQL();
    EXPECT_EQ(insert.RowsAffected(), 1);
    insert.ParamByName("ID").SetValue(OleVariant(int32_t{3}));
    param.SetValue(OleVariant::Null());
    insert.ExecSQL();
    const std::string literal = column.literal        ? std::string(column.literal)
                                : row.literal.empty() ? Quoted(row.value.AsString())
                                                      : row.literal;
    Exec(fmt::format("INSERT INTO {} (ID, C) VALUES (2, {})", table, literal));
    Exec(fmt::format("INSERT INTO {} (ID, C) VALUES (4, NULL)", table));
    // 5: the value bound to a "?" marker, found as the engine reads its text: the path of the
    // published methods that take values apart from the text.
    const TSqlDialect& dialect = connection_.Driver().Dialect();
    TFDQuery positional;
    positional.SetConnection(&connection_);
    positional.SQL().SetText(
        NamePositionalMarkers(fmt::format("INSERT INTO {} (ID, C) VALUES (?, ?)", table), dialect)
            .text);
    positional.Params()[0].SetValue(OleVariant(int32_t{5}));
    positional.Params()[1].DataType = row.param_type;
    positional.Params()[1].SetValue(row.value);
    positional.ExecSQL();
    EXPECT_EQ(positional.RowsAffected(), 1);

    TFDQuery q;
    q.SetConnection(&connection_);
    q.SQL().SetText(fmt::format("SELECT ID, C FROM {} ORDER BY ID", table));
    q.Open();
    ASSERT_EQ(q.RecordCount(), 5);
    EXPECT_EQ(FieldTypeName(q.FieldDefs()[1].DataType), FieldTypeName(column.type));
    const std::string expected = column.text        ? std::string(column.text)
                                 : row.text.empty() ? row.value.AsString()
                                                    : row.text;
    for (const char* way : {"parameter", "literal"}) {
      EXPECT_EQ(q.Fields(1).AsString(), expected) << "written as a " << way;
      q.Next();
    }
    for (const char* way : {"parameter", "literal"}) {
      EXPECT_TRUE(q.Fields(1).IsNull()) << "NULL written as a " << way;
      q.Next();
    }
    EXPECT_EQ(q.Fields(1).AsString(), expected) << "bound to a ? marker";

    // The row found again by the value bound to a "?" marker of the query.
    TFDQuery found;
    found.SetConnection(&connection_);
    found.SQL().SetText(
        NamePositionalMarkers(fmt::format("SELECT C FROM {} WHERE ID = ?", table), dialect).text);
    found.Params()[0].SetValue(OleVariant(int32_t{5}));
    found.Open();
    ASSERT_EQ(found.RecordCount(), 1);
    EXPECT_EQ(found.Fields(0).AsString(), expected) << "read through a ? marker";
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, Types, ::testing::ValuesIn(Engines()), EngineName());

}  // namespace
}  // namespace velmora::test
