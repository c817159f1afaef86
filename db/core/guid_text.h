// A GUID as every engine gives it to the client: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in
// upper case, whatever the engine stores (SQLite and the ODBC drivers give the text as written, in
// either case, with or without braces).
//
// Thread contract: none (a pure function).
#pragma once

#include <array>
#include <string_view>

namespace velmora {

// `text` in the canonical form, for a GUID written with or without braces in either case;
// anything else is false (to be given as it is).
bool CanonicalGuidText(std::string_view text, std::array<char, 38>& out);

}  // namespace velmora
