// The driver table: the engines of this build, by DriverID, and the registrations that take their
// place.
#include "db/core/driver_registry.h"

#include <fmt/core.h>

#include <map>
#include <mutex>
#include <vector>

#include "db/core/db_error.h"
#include "variant/variant_text.h"

namespace velmora {

namespace {

struct TBuiltInDriver {
  std::string id;
  TDriverOpener open;
};

std::string UpperCased(std::string_view id) {
  std::string out(id);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

struct TDriverTable {
  std::mutex mu;
  std::vector<TBuiltInDriver> built_in;  // in the order the unknown-driver message lists them
  std::map<std::string, TDriverFactory> registered;  // by upper-cased DriverID
};

TDriverTable& Table() {
  static TDriverTable table;
  return table;
}

}  // namespace

TDriverRegistration::TDriverRegistration(std::string driver_id, TDriverFactory factory)
    : driver_id_(UpperCased(driver_id)) {
  TDriverTable& table = Table();
  std::lock_guard lock(table.mu);
  table.registered[driver_id_] = std::move(factory);
}

TDriverRegistration::~TDriverRegistration() {
  TDriverTable& table = Table();
  std::lock_guard lock(table.mu);
  table.registered.erase(driver_id_);
}

void RegisterBuiltInDriver(std::string_view driver_id, TDriverOpener open) {
  TDriverTable& table = Table();
  std::lock_guard lock(table.mu);
  for (TBuiltInDriver& driver : table.built_in) {
    if (EqualsNoCase(driver.id, driver_id)) {
      driver.open = open;
      return;
    }
  }
  table.built_in.push_back({std::string(driver_id), open});
}

std::unique_ptr<TDriverConnection> OpenDriverConnection(const TStringList& params) {
  const std::string driver_id = params.Values("DriverID");
  if (driver_id.empty()) throw EFDException("Connection parameter DriverID is missing");
  TDriverFactory registered;
  TDriverOpener built_in = nullptr;
  std::string known;
  {
    TDriverTable& table = Table();
    std::lock_guard lock(table.mu);
    const auto it = table.registered.find(UpperCased(driver_id));
    if (it != table.registered.end()) {
      registered = it->second;
    } else {
      for (const TBuiltInDriver& driver : table.built_in) {
        if (EqualsNoCase(driver_id, driver.id)) {
          built_in = driver.open;
          break;
        }
        known += known.empty() ? "" : ", ";
        known += driver.id;
      }
    }
  }
  // The session opens outside the lock: an engine may take as long as its login time-out.
  if (registered) return registered(params);
  if (built_in != nullptr) return built_in(params);
  throw EFDException(
      fmt::format("Driver ID [{}] is unknown (known drivers: {})", driver_id, known));
}

}  // namespace velmora
