// Preprocessing of command text before it reaches an engine: parameter markers become positional
// "?" markers and escape sequences ({d ...}, {t ...}, {ts ...}, {fn ...}, {oj ...}, {escape ...})
// are expanded by the driver. The rules are written down in docs/command-text.md.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/core/sql_dialects.h"

namespace velmora {

struct TSqlEscape {
  enum Kind { kDate, kTime, kTimeStamp, kFunction, kOuterJoin, kLikeEscape };
  Kind kind = kDate;
  std::string name;               // function name for kFunction, as written
  std::vector<std::string> args;  // function arguments (already preprocessed), or the one body
};

// Turns one escape sequence into the engine's SQL.
using TEscapeTranslator = std::function<std::string(const TSqlEscape&)>;

// A range of a command text: byte offsets, end excluded.
struct TTextRange {
  size_t begin = 0;
  size_t end = 0;
  bool operator==(const TTextRange&) const = default;
};

struct TCommandText {
  std::string sql;                 // the text for the engine, "?" for each parameter marker
  std::vector<std::string> names;  // distinct parameter names (first spelling), first use first
  std::vector<int> markers;        // for each "?" of sql in order: its index in names
};

// Scans `text` once, by the engine's `dialect`. A marker is ":" directly followed by a name
// (letters, digits, "_", "$", "#" or any non-ASCII byte) outside the dialect's string literals,
// quoted identifiers, comments and bodies, and outside subscripts "[..]" (where a dialect has no
// [..] names: "a[1:2]", "a[i:j]" are slices); a name repeated in other letter case (NamesEqual,
// variant/name_fold.h) is the same parameter. "::" yields one literal ":".
// The `verbatim` ranges of the text (in order, not overlapping) go as written: they are the bodies
// of stored code the lexer cannot tell (TDriverConnection::VerbatimRanges), where ":NAME" is the
// engine's own variable and "::" stays.
TCommandText PreprocessCommandText(std::string_view text, const TEscapeTranslator& escapes,
                                   const TSqlDialect& dialect = kAnyEngineSqlDialect,
                                   std::span<const TTextRange> verbatim = {});

// `text` between two `quote`s, each `quote` inside doubled: a quoted identifier ('"') or a string
// literal ('\'') of standard SQL.
std::string QuotedSql(std::string_view text, char quote = '"');

// The escape sequence in standard SQL, for engines that understand the escapes themselves or
// need no rewriting: literals as written, functions as NAME(args).
std::string RenderEscapePlain(const TSqlEscape& escape);

}  // namespace velmora
