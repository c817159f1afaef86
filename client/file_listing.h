// The exchange folder's listing as a dataset: the three "|"-joined texts of CheckUpload turned
// into rows of name (text), size (64-bit integer) and time (date-time, to the minute).
#pragma once

#include <string>
#include <vector>

#include "data/mem_table.h"

namespace velmora {

// Items of a "|"-joined text; an empty text has none.
std::vector<std::string> SplitListing(const std::string& text);

// Fills `table` (fields name, size, time) with one row per listed file, in listing order. Raises
// EFormatError when the three texts do not hold the same number of items. A size or time
// that cannot be read gives NULL.
void BuildFileListing(const std::string& names, const std::string& times, const std::string& sizes,
                      TFDMemTable& table);

}  // namespace velmora
