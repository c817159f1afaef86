// Whether the desktop has a notification area. Without one the operator must never be locked
// out: the window is shown at start-up and its close button minimises it instead of hiding it.
// Decided here only, so that tests can choose either behaviour.
#pragma once

#include <optional>

namespace velmora {

// The forced answer when set, else what the platform says.
bool TrayAvailable();
// Forces the answer (std::nullopt: ask the platform again).
void SetTrayAvailable(std::optional<bool> available);

}  // namespace velmora
