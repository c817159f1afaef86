// Words of SQL text compared as the engines compare keywords: ASCII letter case ignored.
#pragma once

#include <initializer_list>
#include <string_view>

namespace velmora {

// Whether `word` is one of `words`.
bool IsOneOfWords(std::string_view word, std::initializer_list<std::string_view> words);

}  // namespace velmora
