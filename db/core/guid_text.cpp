#include "db/core/guid_text.h"

#include <cctype>

namespace velmora {

bool CanonicalGuidText(std::string_view text, std::array<char, 38>& out) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return false;
  out.front() = '{';
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
      return false;
    }
    out[i + 1] = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  out.back() = '}';
  return true;
}

}  // namespace velmora
