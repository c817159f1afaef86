#include "db/core/positional_markers.h"

#include <algorithm>
#include <cctype>

#include "db/core/db_error.h"

namespace velmora {
namespace {

// The characters of a marker's name (command_text.h): a name character after a "?" would join
// the number the marker becomes.
bool IsNameChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '$' || c == '#' || u >= 0x80;
}

}  // namespace

TPositionalText NamePositionalMarkers(std::string_view text, const TSqlDialect& dialect,
                                      std::span<const TTextRange> verbatim) {
  TPositionalText out;
  bool named = false;
  size_t copied = 0;
  size_t next_verbatim = 0;
  TSqlLexer lexer(text, dialect);
  for (TSqlToken token; lexer.Next(token);) {
    const size_t i = token.begin;
    if (next_verbatim < verbatim.size() && verbatim[next_verbatim].begin <= i) {
      lexer.Seek(std::max(i, verbatim[next_verbatim++].end));
      continue;
    }
    if (token.kind != TSqlTokenKind::kPunct) continue;
    if (text[i] == ':') {
      // "::" is a literal colon; ":" and a name is a named marker.
      if (i + 1 < text.size() && text[i + 1] == ':') {
        lexer.Seek(i + 2);
      } else if (i + 1 < text.size() && IsNameChar(text[i + 1])) {
        named = true;
      }
      continue;
    }
    if (text[i] != '?') continue;
    out.text.append(text.substr(copied, i - copied));
    out.text += ':';
    out.text += std::to_string(++out.positional);
    if (i + 1 < text.size() && IsNameChar(text[i + 1])) out.text += ' ';
    copied = i + 1;
  }
  if (out.positional > 0 && named) throw EFDException(kMixedMarkersMessage);
  out.text.append(text.substr(copied));
  return out;
}

}  // namespace velmora
