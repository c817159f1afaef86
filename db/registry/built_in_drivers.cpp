#include "db/registry/built_in_drivers.h"

#include <array>
#include <memory>

#include "db/core/driver_registry.h"
#include "db/firebird/fb_connection.h"
#include "db/odbc/odbc_connection.h"
#include "db/pg/pg_connection.h"
#include "db/sqlite/sqlite_connection.h"

namespace velmora {
namespace {

template <class Connection>
std::unique_ptr<TDriverConnection> Open(const TStringList& params) {
  return std::make_unique<Connection>(params);
}

struct TBuiltInDriver {
  std::string_view id;
  TDriverOpener open;
};

constexpr std::array<TBuiltInDriver, 6> kBuiltInDrivers = {{
    {"SQLite", &Open<TSQLiteConnection>},
    {"MSSQL", &Open<TOdbcConnection>},
    {"MSAcc", &Open<TOdbcConnection>},
    {"ODBC", &Open<TOdbcConnection>},
    {"PG", &Open<TPgConnection>},
    {"FB", &Open<TFbConnection>},
}};

constexpr std::array<std::string_view, kBuiltInDrivers.size()> kIds = [] {
  std::array<std::string_view, kBuiltInDrivers.size()> ids{};
  for (size_t i = 0; i < ids.size(); ++i) ids[i] = kBuiltInDrivers[i].id;
  return ids;
}();

bool RegisterAll() {
  for (const TBuiltInDriver& driver : kBuiltInDrivers)
    RegisterBuiltInDriver(driver.id, driver.open);
  return true;
}

}  // namespace

std::span<const std::string_view> BuiltInDriverIds() {
  return kIds;
}

}  // namespace velmora

// Named by velmora_db_registry's link option (db/registry/CMakeLists.txt), so that every program
// linking the library takes this file, and with it the registration, from the archive.
extern "C" {
extern const bool velmora_db_built_in_drivers_registered;
const bool velmora_db_built_in_drivers_registered = velmora::RegisterAll();
}
