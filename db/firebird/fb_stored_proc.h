// Stored procedure calls on Firebird (the table in docs/firebird-types.md).
//
// The rules:
// - The procedure is looked up in RDB$PROCEDURES by its name as given, then upper-cased (the
//   engine folds unquoted names); a name found nowhere is called as given, so the engine's own
//   "Procedure unknown" reaches the caller.
// - Inputs: the parameters sent (IsInputParam: ptInput, ptInputOutput, ptUnknown), in declaration
//   order, one "?" each. Outputs: the parameters received (IsOutputParam: ptOutput,
//   ptInputOutput, ptResult), read back by name (letter case ignored) from the procedure's output
//   row. Firebird has no input-output parameters: an input-output parameter is sent as an input
//   and takes the value of the output of its name, when there is one. A Firebird procedure returns
//   no value of its own, so a ptResult parameter takes the output of its name like any output.
// - ExecProc runs EXECUTE PROCEDURE: the outputs of an executable procedure, or the first row of a
//   selectable one. Open runs SELECT * FROM p(...) for a selectable procedure (RDB$PROCEDURE_TYPE
//   1), all its rows; for an executable one it runs EXECUTE PROCEDURE and gives its output row as
//   a one-row result (a SELECT from it would give no rows), with the outputs read back as well.
//   After Open of a selectable procedure the outputs are left as they were.
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "db/core/driver.h"

namespace velmora {

class TFbConnection;

std::unique_ptr<TDriverCommand> CreateFbStoredProc(TFbConnection& connection, std::string_view name,
                                                   std::span<TParam* const> params);

}  // namespace velmora
