// Preprocessing of command text before it reaches an engine: parameter markers become positional
// "?" markers and escape sequences ({d ...}, {t ...}, {ts ...}, {fn ...}, {oj ...}, {escape ...})
// are expanded by the driver. The rules are written down in docs/command-text.md.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct TSqlEscape {
  enum Kind { kDate, kTime, kTimeStamp, kFunction, kOuterJoin, kLikeEscape };
  Kind kind = kDate;
  std::string name;               // function name for kFunction, as written
  std::vector<std::string> args;  // function arguments (already preprocessed), or the one body
};

// Turns one escape sequence into the engine's SQL.
using TEscapeTranslator = std::function<std::string(const TSqlEscape&)>;

struct TCommandText {
  std::string sql;                 // the text for the engine, "?" for each parameter marker
  std::vector<std::string> names;  // distinct parameter names (first spelling), first use first
  std::vector<int> markers;        // for each "?" of sql in order: its index in names
};

// Scans `text` once. A marker is ":" directly followed by a name (letters, digits, "_", "$", "#"
// or any non-ASCII byte) outside string literals, quoted identifiers ("..", [..], `..`) and
// comments; a name repeated in other letter case (NamesEqual, variant/name_fold.h) is the same
// parameter. "::" yields one literal ":".
// The body of a stored-code definition (after the AS of CREATE / ALTER / RECREATE PROCEDURE,
// TRIGGER, FUNCTION or PACKAGE, or of EXECUTE BLOCK; db/firebird/fb_statement_split.h) goes as
// written: ":NAME" there is the engine's own variable, and "::" stays.
TCommandText PreprocessCommandText(std::string_view text, const TEscapeTranslator& escapes);

// The escape sequence in standard SQL, for engines that understand the escapes themselves or
// need no rewriting: literals as written, functions as NAME(args).
std::string RenderEscapePlain(const TSqlEscape& escape);

}  // namespace velmora
