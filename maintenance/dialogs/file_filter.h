// Open-file dialog filters written as "description|patterns|description|patterns", turned into the
// name filters Qt's file dialog takes ("description (patterns)").
#pragma once

#include <QString>
#include <QStringList>

namespace velmora {

// One name filter per pair, in order. A description that already ends with its patterns in
// parentheses ("数据库文件(*.mdb)") is kept as it is; otherwise " (patterns)" is appended.
// Patterns separated by ";" are separated by spaces. "*.*" means every file, as it does on
// Windows, so it becomes "*" (which also matches names without a dot). An odd last description
// without patterns gets "*".
QStringList NameFiltersFromFilter(const QString& filter);

}  // namespace velmora
