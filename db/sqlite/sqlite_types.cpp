#include "db/sqlite/sqlite_types.h"

#include <cctype>
#include <charconv>
#include <string>
#include <vector>

#include "variant/variant_text.h"

namespace velmora {
namespace {

struct Rule {
  std::string_view name;  // the type name, upper case, blanks collapsed
  TFieldType type;
  int default_size;  // used when no size is declared (0: none)
};

// Names matched exactly (after upper-casing and collapsing blanks).
constexpr Rule kRules[] = {
    {"INT", ftInteger, 0},
    {"INT4", ftInteger, 0},
    {"INT32", ftInteger, 0},
    {"MEDIUMINT", ftInteger, 0},
    {"INTEGER", ftLargeint, 0},
    {"BIGINT", ftLargeint, 0},
    {"INT8", ftLargeint, 0},
    {"INT64", ftLargeint, 0},
    {"UNSIGNED BIG INT", ftLargeint, 0},
    {"SMALLINT", ftSmallint, 0},
    {"INT2", ftSmallint, 0},
    {"INT16", ftSmallint, 0},
    {"TINYINT", ftByte, 0},
    {"BOOLEAN", ftBoolean, 0},
    {"BOOL", ftBoolean, 0},
    {"BIT", ftBoolean, 0},
    {"LOGICAL", ftBoolean, 0},
    {"REAL", ftFloat, 0},
    {"DOUBLE", ftFloat, 0},
    {"DOUBLE PRECISION", ftFloat, 0},
    {"FLOAT", ftFloat, 0},
    {"FLOAT8", ftFloat, 0},
    {"SINGLE", ftSingle, 0},
    {"FLOAT4", ftSingle, 0},
    {"NUMERIC", ftFMTBcd, 0},
    {"DECIMAL", ftFMTBcd, 0},
    {"NUMBER", ftFMTBcd, 0},
    {"MONEY", ftCurrency, 0},
    {"SMALLMONEY", ftCurrency, 0},
    {"CURRENCY", ftCurrency, 0},
    {"CHAR", ftFixedWideChar, 1},
    {"NCHAR", ftFixedWideChar, 1},
    {"CHARACTER", ftFixedWideChar, 1},
    {"NATIVE CHARACTER", ftFixedWideChar, 1},
    {"VARCHAR", ftWideString, 0},
    {"NVARCHAR", ftWideString, 0},
    {"VARCHAR2", ftWideString, 0},
    {"NVARCHAR2", ftWideString, 0},
    {"VARYING CHARACTER", ftWideString, 0},
    {"CHARACTER VARYING", ftWideString, 0},
    {"NATIONAL VARYING CHARACTER", ftWideString, 0},
    {"TEXT", ftWideMemo, 0},
    {"NTEXT", ftWideMemo, 0},
    {"CLOB", ftWideMemo, 0},
    {"NCLOB", ftWideMemo, 0},
    {"MEMO", ftWideMemo, 0},
    {"LONGTEXT", ftWideMemo, 0},
    {"MEDIUMTEXT", ftWideMemo, 0},
    {"TINYTEXT", ftWideMemo, 0},
    {"JSON", ftWideMemo, 0},
    {"XML", ftWideMemo, 0},
    {"BLOB", ftBlob, 0},
    {"IMAGE", ftBlob, 0},
    {"LONGBLOB", ftBlob, 0},
    {"MEDIUMBLOB", ftBlob, 0},
    {"BYTEA", ftBlob, 0},
    {"GRAPHIC", ftBlob, 0},
    {"BINARY", ftBytes, 1},
    {"VARBINARY", ftVarBytes, 0},
    {"DATE", ftDate, 0},
    {"TIME", ftTime, 0},
    {"DATETIME", ftDateTime, 0},
    {"TIMESTAMP", ftDateTime, 0},
    {"SMALLDATETIME", ftDateTime, 0},
    {"DATETIME2", ftDateTime, 0},
    {"GUID", ftGuid, 38},
    {"UNIQUEIDENTIFIER", ftGuid, 38},
    {"UUID", ftGuid, 38},
};

constexpr int kDefaultBcdPrecision = 32;
constexpr int kDefaultBcdScale = 8;

std::vector<int> ParseNumbers(std::string_view s) {
  std::vector<int> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && !std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    if (i == s.size()) break;
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v);
    if (ec != std::errc()) v = 0;
    out.push_back(v);
    i = static_cast<size_t>(end - s.data());
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  }
  return out;
}

TSQLiteColumnType ByAffinity(const std::string& upper) {
  auto has = [&](std::string_view part) { return upper.find(part) != std::string::npos; };
  if (has("INT")) return {ftLargeint};
  if (has("CHAR") || has("CLOB") || has("TEXT")) return {ftWideMemo};
  if (has("BLOB")) return {ftBlob};
  if (has("REAL") || has("FLOA") || has("DOUB")) return {ftFloat};
  return {ftFMTBcd, 0, kDefaultBcdPrecision, kDefaultBcdScale};  // NUMERIC affinity
}

}  // namespace

TSQLiteColumnType MapSQLiteDeclaredType(std::string_view declared) {
  const size_t paren = declared.find('(');
  const std::string_view name_part = declared.substr(0, paren);
  std::string name;
  for (char c : name_part) {
    if (IsBlank(c)) {
      if (!name.empty() && name.back() != ' ') name += ' ';
    } else {
      name += AsciiUpper(c);
    }
  }
  if (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) return {};
  const std::vector<int> numbers =
      paren == std::string_view::npos ? std::vector<int>{} : ParseNumbers(declared.substr(paren));

  for (const Rule& rule : kRules) {
    if (rule.name != name) continue;
    TSQLiteColumnType t{rule.type};
    switch (rule.type) {
      case ftFMTBcd:
        t.precision = numbers.empty() ? kDefaultBcdPrecision : numbers[0];
        t.scale = numbers.size() > 1 ? numbers[1] : (numbers.empty() ? kDefaultBcdScale : 0);
        break;
      case ftFixedWideChar:
      case ftWideString:
      case ftBytes:
      case ftVarBytes:
        t.size = numbers.empty() ? rule.default_size : numbers[0];
        // A character or byte column without a length holds text or bytes of any length.
        if (t.size <= 0)
          t.type = (rule.type == ftVarBytes || rule.type == ftBytes) ? ftBlob : ftWideMemo;
        break;
      case ftGuid:
        t.size = rule.default_size;
        break;
      default:
        break;
    }
    return t;
  }
  return ByAffinity(name);
}

}  // namespace velmora
