// The message of the exception a piece of test code raises, for comparing refusals by their text.
#pragma once

#include <exception>
#include <string>

namespace velmora::test {

// The message of the exception `fn` raises ("" when it raises none).
template <typename Fn>
std::string ErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace velmora::test
