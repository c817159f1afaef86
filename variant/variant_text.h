// Text forms of numbers and of the custom variant kinds, independent of the locale.
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
bool EqualsNoCase(std::string_view a, std::string_view b);

std::string FormatCurrency(int64_t scaled_by_10000);         // "-12.5", "3"
std::string FormatTimeStamp(const SqlTimeStamp& t);          // "2024-03-05 10:11:12.123"
std::string FormatTimeStampOffset(const SqlTimeStampOffset& t);  // "... +02:00"
std::string FormatInterval(const SqlInterval& i);            // "-1-02" or "3 04:05:06.007"

}  // namespace velmora
