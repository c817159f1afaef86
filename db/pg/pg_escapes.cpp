// Escape sequences rewritten for PostgreSQL.
#include <fmt/core.h>

#include "db/core/escape_renames.h"
#include "db/pg/pg_command_text.h"
#include "db/pg/pg_connection.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

// Scalar functions the server knows under another name, arguments in the same order.
constexpr TEscapeRename kRenames[] = {
    {"UCASE", "upper"},
    {"LCASE", "lower"},
    {"IFNULL", "coalesce"},
    {"CEILING", "ceil"},
    {"LOG", "ln"},
    {"SUBSTRING", "substr"},
    {"CHAR", "chr"},
    {"CHAR_LENGTH", "length"},
    {"CHARACTER_LENGTH", "length"},
};

// Parts of a date, read with EXTRACT as integers.
constexpr TEscapeRename kDateParts[] = {
    {"YEAR", "YEAR"},     {"MONTH", "MONTH"},   {"DAYOFMONTH", "DAY"}, {"HOUR", "HOUR"},
    {"MINUTE", "MINUTE"}, {"SECOND", "SECOND"}, {"DAYOFYEAR", "DOY"},
};

}  // namespace

std::string TPgConnection::TranslateEscape(const TSqlEscape& e) const {
  // Typed literals, so that a date in a select list is a date rather than text.
  if (e.kind == TSqlEscape::kDate) return "DATE " + e.args.at(0);
  if (e.kind == TSqlEscape::kTime) return "TIME " + e.args.at(0);
  if (e.kind == TSqlEscape::kTimeStamp) return "TIMESTAMP " + e.args.at(0);
  if (e.kind != TSqlEscape::kFunction) return RenderEscapePlain(e);
  const std::string_view name = e.name;
  if (EqualsNoCase(name, "NOW")) return "LOCALTIMESTAMP";
  if (EqualsNoCase(name, "CURDATE") || EqualsNoCase(name, "CURRENT_DATE")) return "CURRENT_DATE";
  if (EqualsNoCase(name, "CURTIME") || EqualsNoCase(name, "CURRENT_TIME")) return "LOCALTIME";
  if (e.args.size() == 1 && EqualsNoCase(name, "DAYOFWEEK"))
    return fmt::format("(CAST(EXTRACT(DOW FROM {}) AS integer) + 1)", e.args[0]);
  for (const TEscapeRename& part : kDateParts) {
    if (e.args.size() == 1 && EqualsNoCase(name, part.from))
      return fmt::format("CAST(EXTRACT({} FROM {}) AS integer)", part.to, e.args[0]);
  }
  if (auto renamed = RenamedEscapeCall(kRenames, e)) return *renamed;
  return RenderEscapePlain(e);
}

}  // namespace velmora
