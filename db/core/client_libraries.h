// The client libraries of the engines that are not linked into the program: each is loaded with
// dlopen, by file name, when the first connection of its engine opens, so a machine without one
// runs every other engine, and only that engine's connections fail, naming the file.
//
// The rules:
// - The names are the Debian libraries' sonames: libfbclient.so.2 (FB), libpq.so.5 (PG),
//   libodbc.so.2 (MSSQL, MSAcc, ODBC), found by the dynamic loader's usual search.
// - SetClientLibraryFile replaces a name for the rest of the process; it takes effect at the
//   engine's next load, so call it before that engine's first connection opens. A test stands for
//   a machine without a library this way; a machine whose library has another name is served too.
// - The Firebird and ODBC loads happen once per process, failed or not; the PostgreSQL one is
//   tried again at each open until it succeeds (db/firebird/fb_api.h, db/pg/libpq_api.h,
//   db/odbc/odbc_api.h).
// Threads: any; one lock guards the names.
#pragma once

#include <string>

namespace velmora {

enum class ClientLibrary { kFirebird, kPostgreSql, kOdbc };

// The file name `library` is loaded from.
std::string ClientLibraryFile(ClientLibrary library);
// Replaces that name; an empty `file` restores the default.
void SetClientLibraryFile(ClientLibrary library, std::string file);

}  // namespace velmora
