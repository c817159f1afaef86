// The process-wide switch of literal lifting (db/core/literal_lifting.h). It is on by default and
// exists for comparisons only: a text must give the same result with its literals lifted into
// bound values as without, and a check of that runs each text both ways in one process. Nothing
// in the server turns it off.
//
// Thread rules: an atomic flag; a command reads it once, when it is made.
#pragma once

namespace velmora {

void SetLiteralLifting(bool on);
bool LiteralLiftingOn();

}  // namespace velmora
