// Field types of SQLite columns, from their declared types (docs/sqlite-types.md has the table).
#pragma once

#include <string_view>

#include "data/field_type.h"

namespace velmora {

struct TSQLiteColumnType {
  TFieldType type = ftUnknown;  // ftUnknown: no declared type, decided by the values
  int size = 0;                 // characters or bytes, where declared
  int precision = 0;
  int scale = 0;
  bool operator==(const TSQLiteColumnType&) const = default;
};

// Maps a declared column type ("NVARCHAR(40)", "decimal(10, 2)", "UNSIGNED BIG INT") to a field
// type. Names we do not know follow SQLite's own affinity rules.
TSQLiteColumnType MapSQLiteDeclaredType(std::string_view declared);

}  // namespace velmora
