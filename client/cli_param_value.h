// Parameter values as velmora-cli takes them on its command line: `call`'s NAME=VALUE and
// NAME:TYPE=VALUE, and the bound values `--param VALUE` of query and exec (docs in
// client/README.md).
#pragma once

#include <optional>
#include <string>

#include "data/params.h"

namespace velmora::cli {

// Type names a parameter may be given: short names (int, bigint, float, text, bool, date, time,
// datetime, timestamp, decimal, bcd, blob, memo, ...) and the field types' own ("ftInteger").
std::optional<TFieldType> ParamTypeFromName(std::string name);

// A value typed from its text: integers (32 or 64 bits), decimals with a point or exponent,
// true and false, and text otherwise.
TParam TypedFromValue(const std::string& name, const std::string& text);

// One bound value of --param: "null" is NULL; "TYPE:VALUE" with a known type name is VALUE of
// that type ("text:42" the text 42, "bytes:0aff" or "blob:0aff" the bytes given in hex); anything
// else is typed from its text as TypedFromValue does. Raises EUsage for bytes that are not hex.
TParam BoundValueFromArg(const std::string& arg);

}  // namespace velmora::cli
