// How ApplyUpdates groups the statements of a delta. The rules:
// - Every change is attempted (up to the error limit); a refused change marks its row and undoes
//   only itself; the accepted changes stay.
// - Without a transaction of the caller's, the whole delta runs in one transaction, in chunks of
//   rows under a savepoint: a chunk whose rows all pass stays as it is; a chunk in which a row
//   fails goes back to its savepoint and runs again row by row, each row under a savepoint of its
//   own, so that the refused row is undone alone. One commit at the end.
// - An UPDATE or DELETE that touches no row or more than one is refused like an engine error.
// - The engine may end the whole transaction on its own (a conflict clause that says ROLLBACK,
//   RAISE(ROLLBACK), a deadlock) or refuse the commit (busy, a deferred constraint, a
//   serialization failure). The transaction is looked at after every row and the commit's outcome
//   is checked; when it was lost, what it held is gone, so every change is applied again from the
//   first, one transaction per row: no accepted row is ever reported that is not in the database.
// - Inside a transaction of the caller's, the rows run under savepoints in it and nothing is
//   committed; losing that transaction raises EFDException, since the caller's work is gone too.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "data/params.h"
#include "db/core/driver.h"

namespace velmora {

// The statement of one logged change: its text (empty: nothing to write) and the values its "?"
// markers take, or why no statement could be made for it.
struct TChangeStatement {
  std::string sql;
  TParams values;
  TUpdateStatus status = usUnmodified;
  std::string build_error;  // not empty: the change is refused without reaching the database
};

// What became of one change.
struct TChangeOutcome {
  bool attempted = false;
  std::string error;  // empty when applied
};

// Applies `changes` in order on `driver` by the rules above and returns one outcome per change.
// Stops attempting changes once more than `max_errors` were refused (-1: no limit). Raises when
// the transaction control itself fails (a BEGIN the engine refuses, a savepoint it cannot undo).
std::vector<TChangeOutcome> RunChanges(TDriverConnection& driver,
                                       std::vector<TChangeStatement>& changes,
                                       std::string_view table, int max_errors);

// Rows per savepoint on the grouped path.
inline constexpr size_t kApplyChunkRows = 256;

}  // namespace velmora
