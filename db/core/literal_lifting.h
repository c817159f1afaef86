// Literal lifting: the constants a query compares with become bound values, so that texts that
// differ only by those constants share one prepared statement (db/core/statement_cache.h).
//
// What is lifted, in a text of a single SELECT (or WITH ... SELECT) statement whose only
// parameter markers are plain "?": an integer literal (decimal digits, any leading zeros, an
// optional "-" or "+" before it, the signed value within int64: -9223372036854775808 is, as the
// engines read it) or a standard string literal ('..', '' inside; unless `kinds` says not),
// standing right after a comparison operator (=, ==, <>, !=, <, >, <=, >=; blanks and comments
// between are allowed). Each becomes a "?" marker and its value a TLiftedValue.
//
// What is never lifted: anything inside a result column list (an expression's text there is the
// column's name), any other literal (ORDER BY 1, LIMIT 10, IN (1, 2), x BETWEEN 1 AND 2, LIKE 'a%',
// 1.5, 0x10, X'00'), an integer that does not fit int64, and anything in a text of several
// statements, of another statement kind, or with named or numbered markers.
//
// For an engine where a bound value and a literal compare alike (SQLite: neither has affinity, the
// column's applies), the lifted text gives the same rows, columns and names as the original. The
// caller keeps the original text for its messages: when the lifted text is refused, it prepares
// the original, so a client sees the original's error.
//
// Thread rules: plain functions on values; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/core/sql_lexer.h"

namespace velmora {

struct TLiftedValue {
  bool is_text = false;
  int64_t integer = 0;
  std::string text;  // the string's content, quotes undone

  bool operator==(const TLiftedValue&) const = default;
};

struct TLiftedText {
  std::string sql;  // the text with a "?" marker for each lifted literal
  std::vector<TLiftedValue> values;
  // For each "?" marker of sql, in order: -1 for a marker the original text had, otherwise the
  // index of its value in values.
  std::vector<int> markers;
  // For each "?" marker of sql, in order: its offset in sql (for an engine that numbers them).
  std::vector<size_t> marker_offsets;
};

// Which kinds of literal may be lifted. An engine whose bound string takes a type fixed when the
// statement is prepared (PostgreSQL: a string literal's type comes from its context, which DDL,
// search_path or settings may change while the statement is kept) lifts integers only.
struct TLiftKinds {
  bool strings = true;
};

// Lifts the literals of `text` (read with `dialect`'s quoting) into `out`; returns false, leaving
// `out` as it was, when there is nothing to lift.
bool LiftLiterals(std::string_view text, const TSqlDialect& dialect, TLiftedText& out,
                  TLiftKinds kinds = {});

}  // namespace velmora
