// Text forms of numbers and of the custom variant kinds, and the text rules every layer shares,
// all independent of the locale.
//
// The shared rules, the only copies in the tree:
// - Blanks are the six ASCII white-space characters (space, tab, LF, VT, FF, CR). No byte of
//   0x80 or above is ever a blank, so trimming never cuts into a UTF-8 sequence.
// - Letter case is ASCII only: "a" to "z" match "A" to "Z" and every other byte matches only
//   itself, whatever locale the process runs in. Names of fields and parameters are the
//   exception: they compare by Unicode case folding, through variant/name_fold.h.
// - Text is UTF-8; a code point is a byte that is not a continuation byte (10xxxxxx), so counting
//   and cutting never split a sequence.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "variant/ole_variant.h"

namespace velmora {

// Signed decimal, or hexadecimal with "$" or "0x"; surrounding blanks allowed. False when the
// whole text is not one number in range.
bool ParseInteger(std::string_view text, int64_t& out);
// A decimal number with optional fraction and exponent; surrounding blanks allowed.
bool ParseDouble(std::string_view text, double& out);

// Blanks, letter case and code points, by the rules above.
bool IsBlank(char c);
std::string_view TrimBlanks(std::string_view text);
char AsciiLower(char c);
char AsciiUpper(char c);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool LessNoCase(std::string_view a, std::string_view b);  // ordering that ignores letter case
size_t CodePointCount(std::string_view utf8);
// The longest prefix of at most `max_code_points` code points.
std::string_view CutToCodePoints(std::string_view utf8, size_t max_code_points);

// Plain decimal text of a double, as a decimal (BCD) value is written: the shortest text that
// reads back exactly, or, where that would take an exponent, fixed-point with 15 decimals and no
// trailing zeros ("1e+20" -> "100000000000000000000"). "" for infinity and NaN.
std::string FormatDecimal(double value);

std::string FormatCurrency(int64_t scaled_by_10000);             // "-12.5", "3"
std::string FormatTimeStamp(const SqlTimeStamp& t);              // "2024-03-05 10:11:12.123"
std::string FormatTimeStampOffset(const SqlTimeStampOffset& t);  // "... +02:00"
std::string FormatInterval(const SqlInterval& i);                // "-1-02" or "3 04:05:06.007"

}  // namespace velmora
