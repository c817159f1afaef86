// EVelmoraError: the one base of every exception the system raises for its own errors. Catching
// it catches anything Velmora means to report; what() is the message a caller shows or sends on,
// and each derived class keeps the exact texts its callers rely on.
#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

class EVelmoraError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velmora
