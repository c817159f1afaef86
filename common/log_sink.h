// The server's event log as the layers below the shell see it: one process-wide sink that the
// shell sets to append to its log. Without a sink, lines go nowhere.
//
// Thread contract: SetLogSink is called by the shell on its own thread while the service is
// stopped (before a start, after a stop); LogServerEvent may be called from any thread at any time
// and never waits for the shell's thread (the sink must not either: it hands the line on).
#pragma once

#include <functional>
#include <string_view>

namespace velmora {

using LogSink = std::function<void(std::string_view text)>;

// Replaces the sink; an empty function removes it.
void SetLogSink(LogSink sink);
// Hands `text` (one line, without time stamp) to the sink, if any. Never raises.
void LogServerEvent(std::string_view text) noexcept;

}  // namespace velmora
