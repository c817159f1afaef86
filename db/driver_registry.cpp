// The drivers this build knows, by DriverID.
#include <fmt/core.h>

#include "db/db_error.h"
#include "db/driver.h"
#include "db/sqlite/sqlite_connection.h"
#include "variant/variant_text.h"

namespace velmora {

std::unique_ptr<TDriverConnection> OpenDriverConnection(const TStringList& params) {
  const std::string driver_id = params.Values("DriverID");
  if (driver_id.empty()) throw EFDException("Connection parameter DriverID is missing");
  if (EqualsNoCase(driver_id, "SQLite")) return std::make_unique<TSQLiteConnection>(params);
  throw EFDException(fmt::format("Driver ID [{}] is unknown (known drivers: SQLite)", driver_id));
}

}  // namespace velmora
