// Escape sequences in SQLite's SQL, for every way SQLite is reached: the native driver, and an
// ODBC driver for SQLite, which would pass functions on under ODBC's names (UCASE, CONCAT, YEAR
// ...) that SQLite lacks.
//
// The rules:
// - Date, time and time-stamp escapes become their quoted text: SQLite keeps dates as text.
// - Functions SQLite has under another name, or can build (CONCAT as ||, YEAR and the other
//   date parts with strftime, NOW, MOD, LEFT, RIGHT, DAYOFWEEK), are rewritten; any other
//   function, outer join or LIKE escape goes as plain SQL (RenderEscapePlain).
// - The result holds no escape, so no driver ever sees one nested in another.
//
// Thread contract: none (a pure function).
#pragma once

#include <string>

#include "db/core/command_text.h"

namespace velmora {

std::string SQLiteEscapeSql(const TSqlEscape& escape);

}  // namespace velmora
