// Names of fields and parameters, compared without regard to letter case. Every lookup of a field
// or a parameter by name goes through NamesEqual, so "Ä" and "ä" name one parameter everywhere.
//
// The rules:
// - Names are UTF-8. Two names are equal when their code points are equal one by one after Unicode
//   simple case folding (CaseFolding.txt statuses C and S, variant/case_folding_table.h): "Ä"
//   matches "ä"; "Σ", "σ" and "ς" are one letter; the Kelvin sign matches "k".
// - Only simple folding: one code point never matches two, so "ß" does not match "ss". The Turkic
//   mappings are not used: "I" matches "i" and neither matches the dotless "ı" or the dotted "İ".
// - A byte that does not begin a well-formed UTF-8 sequence (a stray continuation byte, an
//   overlong form, a surrogate, a code point above U+10FFFF, a sequence cut short by the end of
//   the name) stands for itself and matches only the same byte. Nothing is read past either name.
// - Independent of the process's locale. ASCII names are compared byte by byte, without decoding.
// - FoldName(a) == FoldName(b) exactly when NamesEqual(a, b), for names used as keys of a map.
//
// The letter case of other text (keywords, settings, driver names) stays ASCII only, by
// EqualsNoCase in variant/variant_text.h.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Defined below, inline for the quick answers.
inline bool NamesEqual(std::string_view a, std::string_view b);

// The name with every code point replaced by its simple case folding; invalid bytes kept as they
// are.
std::string FoldName(std::string_view name);

// One code point's simple case folding; the code point itself when it has none.
char32_t FoldCodePoint(char32_t c);

namespace name_fold_detail {

// True when both bytes are ASCII and fold to different letters or signs.
inline bool AsciiBytesDiffer(unsigned char x, unsigned char y) {
  return (x | y) < 0x80 && x != y &&
         ((x ^ y) != 0x20 || static_cast<unsigned char>((x | 0x20) - 'a') >= 26);
}

// NamesEqual of two non-empty names whose first and last bytes do not differ as ASCII.
bool NamesEqualBeyondEnds(std::string_view a, std::string_view b);

}  // namespace name_fold_detail

// Lookups compare one name with many, and most pairs differ in an end byte. An ASCII byte is a
// unit of its own, so ASCII end bytes that fold differently settle it without a call.
inline bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  using name_fold_detail::AsciiBytesDiffer;
  if (AsciiBytesDiffer(static_cast<unsigned char>(a.front()),
                       static_cast<unsigned char>(b.front())))
    return false;
  if (AsciiBytesDiffer(static_cast<unsigned char>(a.back()), static_cast<unsigned char>(b.back())))
    return false;
  return name_fold_detail::NamesEqualBeyondEnds(a, b);
}

}  // namespace velmora
