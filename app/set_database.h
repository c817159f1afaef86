// `velmora --set-database "DriverID=...;Database=...;..."`: the database setting without the
// window. It runs in the process that serves the application folder (the running copy, reached
// through the single-copy channel), or in the program itself when none runs: an embedded database
// file may be open in one process only, so the process that serves must be the one that tests.
#pragma once

#include <QString>
#include <functional>

#include "app/command_outcome.h"

namespace velmora {

// Tests the connection `connection_string` describes ("Name=Value" pairs separated by ";") with a
// working connection of its own; only when it opens saves its parameters to DataBase.CFG, replacing
// the file, and then restarts the service through `restart` (stop, then start; empty when no
// service runs in this process). Done: "连接成功" and the saved lines, the password masked.
// Refused: "连接参数错误" and the engine's message (the file byte for byte as it was); the file
// error when it cannot be written; the start's error when the service did not start again (the file
// is saved then). Runs on the thread that owns the service.
CommandOutcome SetDatabase(const QString& connection_string, const std::function<void()>& restart);

}  // namespace velmora
