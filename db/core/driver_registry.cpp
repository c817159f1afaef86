// The drivers this build knows, by DriverID, and the registrations that take their place.
#include "db/core/driver_registry.h"

#include <fmt/core.h>

#include <map>
#include <mutex>
#include <string_view>

#include "db/core/db_error.h"
#include "db/firebird/fb_connection.h"
#include "db/odbc/odbc_connection.h"
#include "db/pg/pg_connection.h"
#include "db/sqlite/sqlite_connection.h"
#include "variant/variant_text.h"

namespace velmora {

namespace {

struct TBuiltInDriver {
  std::string_view id;
  std::unique_ptr<TDriverConnection> (*open)(const TStringList& params);
};

std::unique_ptr<TDriverConnection> OpenOdbc(const TStringList& params) {
  return std::make_unique<TOdbcConnection>(params);
}

// Every engine of this build, in the order the unknown-driver message lists them.
constexpr TBuiltInDriver kBuiltInDrivers[] = {
    {"SQLite",
     [](const TStringList& p) -> std::unique_ptr<TDriverConnection> {
       return std::make_unique<TSQLiteConnection>(p);
     }},
    {"MSSQL", &OpenOdbc},
    {"MSAcc", &OpenOdbc},
    {"ODBC", &OpenOdbc},
    {"PG",
     [](const TStringList& p) -> std::unique_ptr<TDriverConnection> {
       return std::make_unique<TPgConnection>(p);
     }},
    {"FB",
     [](const TStringList& p) -> std::unique_ptr<TDriverConnection> {
       return std::make_unique<TFbConnection>(p);
     }},
};

std::string UpperCased(std::string_view id) {
  std::string out(id);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::mutex& RegistrationsMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, TDriverFactory>& Registrations() {
  static std::map<std::string, TDriverFactory> r;
  return r;
}

}  // namespace

TDriverRegistration::TDriverRegistration(std::string driver_id, TDriverFactory factory)
    : driver_id_(UpperCased(driver_id)) {
  std::lock_guard lock(RegistrationsMutex());
  Registrations()[driver_id_] = std::move(factory);
}

TDriverRegistration::~TDriverRegistration() {
  std::lock_guard lock(RegistrationsMutex());
  Registrations().erase(driver_id_);
}

std::unique_ptr<TDriverConnection> OpenDriverConnection(const TStringList& params) {
  const std::string driver_id = params.Values("DriverID");
  if (driver_id.empty()) throw EFDException("Connection parameter DriverID is missing");
  {
    TDriverFactory registered;
    {
      std::lock_guard lock(RegistrationsMutex());
      const auto it = Registrations().find(UpperCased(driver_id));
      if (it != Registrations().end()) registered = it->second;
    }
    if (registered) return registered(params);
  }
  std::string known;
  for (const TBuiltInDriver& driver : kBuiltInDrivers) {
    if (EqualsNoCase(driver_id, driver.id)) return driver.open(params);
    known += known.empty() ? "" : ", ";
    known += driver.id;
  }
  throw EFDException(
      fmt::format("Driver ID [{}] is unknown (known drivers: {})", driver_id, known));
}

}  // namespace velmora
