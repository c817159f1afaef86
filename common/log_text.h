// Log text that stays one line and shows what it holds. Texts a client chose (a user name, a file
// name inside a path, an error an engine built from a statement) reach the log; a line separator
// (U+2028), a next-line control (U+0085) or a bidirectional override among them would start a line
// of its own on the log page, in the journal or in a terminal, or make one line read as another.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Whether the code point is shown escaped: control characters (C0, DEL, C1 with U+0085), the
// line and paragraph separators (U+2028, U+2029) and every format character (Unicode category Cf:
// the bidirectional controls U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069, zero-width
// characters such as U+200B and U+FEFF, tag characters, ...).
bool IsEscapedInLog(char32_t code_point);

// `text` (UTF-8) with each such code point written as "\uXXXX" ("\UXXXXXXXX" above U+FFFF; tab,
// line feed and carriage return as "\t", "\n", "\r"), and each byte that is not part of valid
// UTF-8 (overlong forms, surrogates and values above U+10FFFF included) as "\xNN". Everything
// else, "\" included, is kept, so escaping a text twice changes nothing more.
std::string EscapeForLog(std::string_view text);

}  // namespace velmora
