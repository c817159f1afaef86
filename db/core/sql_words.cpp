#include "db/core/sql_words.h"

#include "variant/variant_text.h"

namespace velmora {

bool IsOneOfWords(std::string_view word, std::initializer_list<std::string_view> words) {
  for (std::string_view w : words) {
    if (EqualsNoCase(word, w)) return true;
  }
  return false;
}

}  // namespace velmora
