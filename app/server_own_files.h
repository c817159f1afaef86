// The files of the server itself, which the file methods must never hand out, replace or delete:
// CONFIG.CFG (the service password among the settings), DataBase.CFG (the database password), the
// TLS certificate and private key, the database files an embedded engine opens, the files of a
// database client library that hold a password or a key, the backup folder (copies of the
// database), and the running executable. This is the one list of them. The service controller names
// them to the file methods (services/files/ server_own_files.h) at every start, so a changed
// database or TLS setting counts from the next start on.
//
// Thread rules: none of their own; reads the settings files and /proc/self/exe each call.
#pragma once

#include <string>
#include <vector>

#include "db/core/string_list.h"
#include "rpc/tcp_transport.h"

namespace velmora {

// The files a connection with these DataBase.CFG parameters opens on this machine: the database
// file and its journals for SQLite, the database file for embedded Firebird (no Server) and for
// Access; none for engines reached over the network. Relative names are taken from the working
// folder, as the engines do.
std::vector<std::string> DatabaseFilesOf(const TStringList& params);

// The files holding a secret that the client library of these DataBase.CFG parameters reads: for
// PostgreSQL, the `passfile`, `sslkey` and `servicefile` named, and without a `passfile` the one
// libpq reads by itself (PGPASSFILE, else ~/.pgpass). Relative names from the working folder.
std::vector<std::string> SecretFilesOf(const TStringList& params);

// Absolute paths of the server's own files for the application folder `app_path` (ending in "/")
// and the TLS settings in force. A file that does not exist is listed all the same, so that no
// client can create it; DataBase.CFG that cannot be read adds no database files. The backup
// folder (CONFIG.CFG's bakpath) is listed unless it is the application folder or holds it.
std::vector<std::string> ServerOwnFilePaths(const std::string& app_path,
                                            const TDSTlsServerSettings& tls);

}  // namespace velmora
