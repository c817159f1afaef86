#include "db/core/sqlite_escape_sql.h"

#include <fmt/core.h>

#include "db/core/escape_renames.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

// Scalar functions whose arguments SQLite takes in the same order under another name.
constexpr TEscapeRename kRenames[] = {
    {"UCASE", "upper"},
    {"LCASE", "lower"},
    {"LENGTH", "length"},
    {"CHAR_LENGTH", "length"},
    {"CHARACTER_LENGTH", "length"},
    {"SUBSTRING", "substr"},
    {"IFNULL", "ifnull"},
    {"CEILING", "ceil"},
    {"LOG", "ln"},
    {"LOG10", "log10"},
    {"POWER", "power"},
    {"CHAR", "char"},
    {"ASCII", "unicode"},
};

// Parts of a date read with strftime, as integers.
struct DatePart {
  std::string_view name;
  std::string_view format;
};
constexpr DatePart kDateParts[] = {
    {"YEAR", "%Y"},   {"MONTH", "%m"},  {"DAYOFMONTH", "%d"}, {"HOUR", "%H"},
    {"MINUTE", "%M"}, {"SECOND", "%S"}, {"DAYOFYEAR", "%j"},
};

}  // namespace

std::string SQLiteEscapeSql(const TSqlEscape& e) {
  if (e.kind != TSqlEscape::kFunction) return RenderEscapePlain(e);
  const std::string_view name = e.name;
  if (EqualsNoCase(name, "CONCAT")) return "(" + JoinEscapeArgs(e.args, " || ") + ")";
  if (EqualsNoCase(name, "NOW")) return "datetime('now', 'localtime')";
  if (EqualsNoCase(name, "CURDATE") || EqualsNoCase(name, "CURRENT_DATE"))
    return "date('now', 'localtime')";
  if (EqualsNoCase(name, "CURTIME") || EqualsNoCase(name, "CURRENT_TIME"))
    return "time('now', 'localtime')";
  if (e.args.size() == 2 && EqualsNoCase(name, "MOD"))
    return fmt::format("(({}) % ({}))", e.args[0], e.args[1]);
  if (e.args.size() == 2 && EqualsNoCase(name, "LEFT"))
    return fmt::format("substr({}, 1, {})", e.args[0], e.args[1]);
  if (e.args.size() == 2 && EqualsNoCase(name, "RIGHT"))
    return fmt::format("substr({}, -({}))", e.args[0], e.args[1]);
  if (e.args.size() == 1 && EqualsNoCase(name, "DAYOFWEEK")) {
    return fmt::format("(CAST(strftime('%w', {}) AS INTEGER) + 1)", e.args[0]);
  }
  for (const DatePart& part : kDateParts) {
    if (e.args.size() == 1 && EqualsNoCase(name, part.name)) {
      return fmt::format("CAST(strftime('{}', {}) AS INTEGER)", part.format, e.args[0]);
    }
  }
  if (auto renamed = RenamedEscapeCall(kRenames, e)) return *renamed;
  return RenderEscapePlain(e);
}

}  // namespace velmora
