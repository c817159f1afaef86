// Positional parameter markers: a command text written with "?" for each value, as most client
// libraries write it, read the way its engine reads it, so that a "?" inside a string, quoted
// name, comment or stored-code body stays text.
//
// The rules:
// - A "?" that the engine's dialect reads as punctuation, outside the ranges it takes as written
//   (TDriverConnection::Dialect, VerbatimRanges), is a marker; the n-th becomes the named marker
//   ":n" (n from 1), so that the query's Params hold one parameter per marker, named by its
//   position. A blank is put after it when a name character follows ("?x" is no ":1x").
// - A text with both "?" markers and ":NAME" markers is refused: which value goes where would be
//   a guess.
// - A text without "?" markers is returned unchanged: its ":NAME" markers (if any) bind by name.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "db/core/command_text.h"
#include "db/core/sql_lexer.h"

namespace velmora {

inline constexpr const char* kMixedMarkersMessage =
    "The command text mixes \"?\" and \":name\" parameter markers; use one kind";

struct TPositionalText {
  std::string text;       // the command text, each "?" marker renamed ":1", ":2", ...
  size_t positional = 0;  // the number of "?" markers
};

// Raises EFDException(kMixedMarkersMessage) for a text with both kinds of marker.
TPositionalText NamePositionalMarkers(std::string_view text, const TSqlDialect& dialect,
                                      std::span<const TTextRange> verbatim = {});

}  // namespace velmora
