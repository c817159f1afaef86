// The ODBC connection string of a DataBase.CFG parameter list, for the three ODBC DriverIDs:
//
// - MSSQL (FreeTDS by default): Server, Database, User_Name, Password, OSAuthent=Yes.
//   "(local)", "." and an empty server mean this machine (127.0.0.1: FreeTDS knows no local
//   pipes); "host\instance" stays as it is (FreeTDS asks the host's browser service for the
//   instance's port); "host,port" becomes Server=host;Port=port, and a "tcp:" prefix is dropped.
//   OSAuthent=Yes asks for the driver's integrated login (Trusted_Connection=Yes: Kerberos with
//   FreeTDS) and sends no user name or password. With FreeTDS, ClientCharset=UTF-8 (text arrives
//   as UTF-8) and TDS_Version=7.4 (its automatic choice of version waits for a server that never
//   answers beyond any login time-out) unless the file sets them.
// - MSAcc (MDBTools by default): Database is the .mdb/.accdb path (DBQ); User_Name, Password.
// - ODBC: ODBCDriver or DataSource (DSN) names the source, Server, Database, User_Name and
//   Password map to Server, Database, UID and PWD, and ODBCAdvanced is appended as it is. With
//   PostgreSQL's driver, BoolsAsChar=0 (booleans as SQL_BIT) unless the file sets it.
//
// Every engine: ODBCDriver names the driver (as registered in odbcinst.ini, or the driver
// library's path); a line the mapping does not know (a hand-added Port, TDS_Version, ...) passes
// through as Name=Value. Values holding ";" or braces are quoted with {} (a "}" doubled inside).
// LoginTimeout is the session's own setting, not part of the string.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "db/core/string_list.h"

namespace velmora {

// Whether the driver manager knows a driver by that name (odbcinst.ini). Asked only for a
// default driver name, to fall back to the driver library's path when it is not registered.
using TOdbcDriverRegistered = std::function<bool(std::string_view name)>;

struct TOdbcConnectTarget {
  std::string connection_string;
  int login_timeout_seconds = 10;
};

// Raises EFDException for a missing or invalid parameter (no Database for MSAcc, no source for
// ODBC, a LoginTimeout that is not a number of seconds).
TOdbcConnectTarget BuildOdbcConnectTarget(const TStringList& params,
                                          const TOdbcDriverRegistered& registered);

// `value` as a connection-string value: as it is, or in braces when it holds ';', '{' or '}'.
std::string QuoteOdbcValue(std::string_view value);

}  // namespace velmora
