// Firebird's dialect as the command-text layer meets it: escape sequences rewritten, and the
// PSQL bodies taken as written.
#include <fmt/core.h>

#include "db/core/escape_renames.h"
#include "db/firebird/fb_connection.h"
#include "db/firebird/fb_statement_split.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

// Scalar functions Firebird has under another name, arguments in the same order.
constexpr TEscapeRename kRenames[] = {
    {"UCASE", "UPPER"}, {"LCASE", "LOWER"},     {"LENGTH", "CHAR_LENGTH"}, {"IFNULL", "COALESCE"},
    {"LOG", "LN"},      {"ASCII", "ASCII_VAL"}, {"CHAR", "ASCII_CHAR"},
};

// Parts of a date read with EXTRACT.
constexpr TEscapeRename kDateParts[] = {
    {"YEAR", "YEAR"}, {"MONTH", "MONTH"},   {"DAYOFMONTH", "DAY"},
    {"HOUR", "HOUR"}, {"MINUTE", "MINUTE"}, {"SECOND", "SECOND"},
};

}  // namespace

std::vector<TTextRange> TFbConnection::VerbatimRanges(std::string_view text) const {
  return FirebirdPsqlBodies(text);
}

std::string TFbConnection::TranslateEscape(const TSqlEscape& e) const {
  // Date and time literals are typed, so that date functions and arithmetic take them.
  if (e.kind == TSqlEscape::kDate) return "DATE " + e.args.at(0);
  if (e.kind == TSqlEscape::kTime) return "TIME " + e.args.at(0);
  if (e.kind == TSqlEscape::kTimeStamp) return "TIMESTAMP " + e.args.at(0);
  if (e.kind != TSqlEscape::kFunction) return RenderEscapePlain(e);
  const std::string_view name = e.name;
  if (EqualsNoCase(name, "CONCAT")) return "(" + JoinEscapeArgs(e.args, " || ") + ")";
  if (EqualsNoCase(name, "NOW")) return "CURRENT_TIMESTAMP";
  if (EqualsNoCase(name, "CURDATE") || EqualsNoCase(name, "CURRENT_DATE")) return "CURRENT_DATE";
  if (EqualsNoCase(name, "CURTIME") || EqualsNoCase(name, "CURRENT_TIME")) return "CURRENT_TIME";
  if (e.args.size() == 3 && EqualsNoCase(name, "SUBSTRING"))
    return fmt::format("SUBSTRING({} FROM {} FOR {})", e.args[0], e.args[1], e.args[2]);
  if (e.args.size() == 2 && EqualsNoCase(name, "SUBSTRING"))
    return fmt::format("SUBSTRING({} FROM {})", e.args[0], e.args[1]);
  if (e.args.size() == 1 && EqualsNoCase(name, "DAYOFWEEK"))
    return fmt::format("(EXTRACT(WEEKDAY FROM {}) + 1)", e.args[0]);
  if (e.args.size() == 1 && EqualsNoCase(name, "DAYOFYEAR"))
    return fmt::format("(EXTRACT(YEARDAY FROM {}) + 1)", e.args[0]);
  for (const TEscapeRename& part : kDateParts) {
    if (e.args.size() == 1 && EqualsNoCase(name, part.from))
      return fmt::format("EXTRACT({} FROM {})", part.to, e.args[0]);
  }
  if (auto renamed = RenamedEscapeCall(kRenames, e)) return *renamed;
  return RenderEscapePlain(e);
}

}  // namespace velmora
