// DataBase.CFG for a server run from a scratch folder: the file the connection pool reads its
// connection parameters from, one Name=Value line each, ended by CR LF.
#pragma once

#include <initializer_list>
#include <string>

namespace velmora::self_host {

// Writes (or rewrites) <folder>/DataBase.CFG with `lines`. Raises std::runtime_error when the
// file cannot be written.
void WriteDatabaseConfig(const std::string& folder, std::initializer_list<std::string> lines);

// Whether the server may create the database file: SQLite opens only an existing file unless
// DataBase.CFG says CreateDatabase=Yes.
enum class NewDatabase { kMustExist, kCreate };

// Writes <folder>/DataBase.CFG naming the SQLite database at `database`; with kCreate, one the
// server makes when it is not there yet.
void WriteSqliteConfig(const std::string& folder, const std::string& database,
                       NewDatabase create = NewDatabase::kMustExist);

}  // namespace velmora::self_host
