// The column layouts a PostgreSQL session has described, kept so that a result of a shape seen
// before is described without building its field definitions again: a session that runs the same
// query with other literals gets the same columns every time.
//
// The rules:
// - A layout is found by what the server says of each column: type, type modifier, table and
//   column of origin, and name. What the catalog adds (key, required, auto-increment, the table's
//   name) is kept with it, so the session forgets its layouts whenever it forgets its catalog
//   (after CREATE, ALTER or DROP run through it).
// - At most kKeptLayouts are kept, the most recently used first; the least recently used goes.
// - A layout is shared: a command keeps the one it was given even after the session lets it go.
//
// Thread contract: the session's; one thread at a time.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

#include "data/field_defs.h"
#include "db/pg/libpq_api.h"
#include "db/pg/pg_types.h"

namespace velmora {

// What the server says of one result column.
struct TPgColumnShape {
  Oid type = InvalidOid;
  int typmod = -1;
  Oid table = InvalidOid;
  int table_column = 0;
  std::string name;
};

struct TPgLayout {
  std::vector<TPgColumnShape> shapes;
  TFieldDefs columns;
  std::vector<TPgColumnType> types;  // by column, as `columns`
};

class TPgLayouts {
 public:
  static constexpr size_t kKeptLayouts = 16;

  // The kept layout whose columns are those of `result`, made the most recent; nullptr when none.
  std::shared_ptr<const TPgLayout> Find(const TLibPq& pq, const PGresult* result);
  // Keeps `layout` as the most recent, letting the least recent go beyond kKeptLayouts.
  void Keep(std::shared_ptr<const TPgLayout> layout);
  void Clear() { kept_.clear(); }
  size_t Count() const { return kept_.size(); }

 private:
  std::vector<std::shared_ptr<const TPgLayout>> kept_;  // the most recent first
};

// What the server says of `result`'s columns.
std::vector<TPgColumnShape> PgColumnShapes(const TLibPq& pq, const PGresult* result);

}  // namespace velmora
