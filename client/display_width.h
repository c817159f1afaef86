// Display width of UTF-8 text on a terminal: East Asian wide and fullwidth characters take two
// columns, combining marks and zero-width characters none, everything else one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora {

// Columns taken by one code point (0, 1 or 2).
int CodePointWidth(uint32_t cp);
// Columns taken by UTF-8 text; a byte that does not start a valid sequence counts as one column.
size_t DisplayWidth(std::string_view utf8);

}  // namespace velmora
