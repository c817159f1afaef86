#include "common/log_text.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace velmora {
namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// Categories Cc, Cf, Zl and Zp (Unicode 15), in order.
constexpr Range kEscaped[] = {
    {0x0, 0x1F},        {0x7F, 0x9F},       {0xAD, 0xAD},       {0x600, 0x605},
    {0x61C, 0x61C},     {0x6DD, 0x6DD},     {0x70F, 0x70F},     {0x890, 0x891},
    {0x8E2, 0x8E2},     {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},
    {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
};

// The code point of the valid UTF-8 sequence at the start of `text` and its length; length 0 when
// the first byte does not start one.
std::pair<char32_t, size_t> DecodeOne(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return {0, 0};
  }
  if (text.size() < length) return {0, 0};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {0, 0};
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {0, 0};
  return {value, length};
}

}  // namespace

bool IsEscapedInLog(char32_t code_point) {
  const auto* it =
      std::upper_bound(std::begin(kEscaped), std::end(kEscaped), code_point,
                       [](char32_t value, const Range& range) { return value < range.first; });
  return it != std::begin(kEscaped) && code_point <= std::prev(it)->last;
}

std::string EscapeForLog(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto [code_point, length] = DecodeOne(text);
    if (length == 0) {
      out += fmt::format("\\x{:02X}", static_cast<uint8_t>(text.front()));
      text.remove_prefix(1);
      continue;
    }
    if (!IsEscapedInLog(code_point)) {
      out.append(text.substr(0, length));
    } else if (code_point == '\t') {
      out += "\\t";
    } else if (code_point == '\n') {
      out += "\\n";
    } else if (code_point == '\r') {
      out += "\\r";
    } else if (code_point > 0xFFFF) {
      out += fmt::format("\\U{:08X}", static_cast<uint32_t>(code_point));
    } else {
      out += fmt::format("\\u{:04X}", static_cast<uint32_t>(code_point));
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace velmora
