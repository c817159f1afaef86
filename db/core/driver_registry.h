// The drivers by DriverID: the engines this build knows, and drivers a test registers in their
// place (a stand-in for an engine that cannot be reached here).
//
// The rules:
// - DriverIDs compare without regard to case ("sqlite" opens SQLite).
// - A registered driver takes the place of a built-in one of the same DriverID until its
//   registration goes; registrations are process-wide and made before connections open.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "db/core/driver.h"

namespace velmora {

using TDriverFactory = std::function<std::unique_ptr<TDriverConnection>(const TStringList& params)>;

// Registers `factory` under `driver_id` for as long as the object lives.
class TDriverRegistration {
 public:
  TDriverRegistration(std::string driver_id, TDriverFactory factory);
  ~TDriverRegistration();
  TDriverRegistration(const TDriverRegistration&) = delete;
  TDriverRegistration& operator=(const TDriverRegistration&) = delete;

 private:
  std::string driver_id_;
};

}  // namespace velmora
