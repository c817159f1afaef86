// The backup of a SQLite database: a consistent copy taken while clients go on writing.
//
// The copy goes through the engine's online backup in one step, which reads the whole database
// inside one read transaction: the copy holds exactly what was committed when it began, and
// writers (WAL journal) are not held up. A stepwise copy would start again after every write made
// meanwhile by another connection and might never finish. The copy is written to `<dest>.tmp`,
// made a self-contained file (rollback journal, no WAL file needed to read it) and renamed over
// `dest`, so a failed backup leaves the previous file of that name as it was and no temporary.
#pragma once

#include <sqlite3.h>

#include <string>

namespace velmora {

// Copies the main database of `source` (an open session) to `dest`. Raises EFDException with the
// engine's or the system's message, naming `dest`.
void BackupSQLiteDatabase(sqlite3* source, const std::string& dest);

}  // namespace velmora
