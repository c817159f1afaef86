// uFDACBackup: one backup of the configured database into a folder, on the caller's thread.
//
// The rules:
// - A connection and a query object are taken from the pools first; each goes back exactly once
//   on every path (the Access path gives the connection back before it copies).
// - The folder is created next, with every missing parent; an empty folder text, or one that
//   cannot be created, ends the backup there.
// - Then the engine decides, by the connection's DriverID compared with case:
//     "MSSQL"  the database server is asked for the backup:
//                BACKUP DATABASE "<Database>" TO DISK='<folder>/<dd><Database>.SQLbak'
//              run through the pooled query (names are not escaped). The server writes the file,
//              so the folder is one on the database server's machine, and a file of that name
//              gains one more backup set;
//     "MSAcc"  the database file is copied to <folder>/<dd>data.mdb (CopyDatabaseFile);
//     others   the session backs its database up itself when its engine can
//              (TDriverConnection::BackUp; SQLite, whatever the DriverID's letter case: a
//              consistent copy to <folder>/<dd><the database file's name>); otherwise (FB, PG,
//              ...) nothing is backed up: those engines are backed up with their own tools.
//   <dd> is the day of the month in two digits; "/" is always put after the folder, so a folder
//   ending in "/" gives two. A name that comes again (the same day of a later month, a second
//   backup in a day) replaces the file, except on SQL Server as said.
// - The backup is not held to the statement time-out: the connection has none while it runs.
// - Nothing is shown or logged here; the caller reports the outcome.
#pragma once

#include <string>

namespace velmora {

class TFDConnectionPool;
class TFDQueryPool;

struct TBackupOutcome {
  enum class Kind {
    kMade,         // `file` is the backup file
    kFailed,       // `message` says why
    kNotBackedUp,  // the engine is backed up with its own tools; `message` names it
  };
  Kind kind = Kind::kFailed;
  std::string file;
  std::string message;
};

// The backup through the given pools; `day_of_month` (1..31) names the file.
TBackupOutcome BackupDatabase(TFDConnectionPool& connections, TFDQueryPool& queries,
                              const std::string& folder, int day_of_month);
// The same through the process-wide pools; fails when they do not exist.
TBackupOutcome BackupDatabase(const std::string& folder, int day_of_month);

// The backup file's name: folder, "/", the day in two digits, then `name`.
std::string BackupFileName(const std::string& folder, int day_of_month, const std::string& name);

}  // namespace velmora
