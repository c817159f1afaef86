// Field types of Firebird result columns (docs/firebird-types.md has the table).
#pragma once

#include <ibase.h>

#include "data/field_defs.h"

namespace velmora {

// Character sets with this id hold raw bytes.
inline constexpr int kFbCharsetOctets = 1;

// The most bytes one character of character set `charset_id` takes.
int FbBytesPerCharacter(int charset_id);

// Fills the type, size, precision and scale of `def` from a described result variable. Raises
// EFDException for a type datasets cannot hold (ARRAY).
void MapFbColumnType(const XSQLVAR& var, TFieldDef& def);

}  // namespace velmora
