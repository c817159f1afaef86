// The engines of this build, by DriverID. A program that links velmora_db_registry has each of
// them in the driver table (db/core/driver_registry.h) before main runs; one that links only the
// core (or one engine) finds only what it registers itself.
//
// The rules:
// - The order is the one the unknown-driver message lists: SQLite, MSSQL, MSAcc, ODBC, PG, FB.
// - MSSQL, MSAcc and ODBC are one engine (db/odbc) under three names.
// Threads: the registration runs during static initialization, before any thread starts.
#pragma once

#include <span>
#include <string_view>

namespace velmora {

// The DriverIDs registered, in order.
std::span<const std::string_view> BuiltInDriverIds();

}  // namespace velmora
