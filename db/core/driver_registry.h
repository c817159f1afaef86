// The driver table: which driver opens a connection, by its DriverID. The engines of the build
// are put in it by the registry library (db/registry/built_in_drivers.h); a test puts a driver of
// its own in place of one (a stand-in for an engine that cannot be reached here).
//
// The rules:
// - DriverIDs compare without regard to case ("sqlite" opens SQLite).
// - A registered driver takes the place of a built-in one of the same DriverID until its
//   registration goes; registrations are process-wide and made before connections open.
// - The unknown-driver message lists the built-in DriverIDs in the order they were added.
// Threads: any; one lock guards the table.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "db/core/driver.h"

namespace velmora {

using TDriverFactory = std::function<std::unique_ptr<TDriverConnection>(const TStringList& params)>;
using TDriverOpener = std::unique_ptr<TDriverConnection> (*)(const TStringList& params);

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

// Adds an engine of this build under `driver_id`, after those added before; for the registry
// library, which calls it before main runs. An engine added twice is listed once.
void RegisterBuiltInDriver(std::string_view driver_id, TDriverOpener open);

}  // namespace velmora
