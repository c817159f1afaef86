// CONFIG.CFG's section "Limits": one key per bound of common/server_limits.h, read once at start-up
// before the service starts (the window's LoadConfig, the headless start-up), then handed to
// SetServerLimits. The section is ours; the server never writes it.
//
// Rules:
// - A missing file, section or key gives the limit's default, silently.
// - Values are integers read as the file's other integers are (decimal, "0x" or "$" for
//   hexadecimal), in the unit the key's name ends with: Seconds, MiB, Bytes, or a plain count.
// - A value that is not an integer is refused: the default applies and a note says so.
// - A value outside the key's range is clamped to the nearer end and a note says so.
// - LoginDelayMaxSeconds below LoginDelayFirstSeconds is raised to it, with a note.
// Notes are texts for the operator's log, one per line, naming the key, the value read and the
// value used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/server_limits.h"

namespace velmora {

inline constexpr std::string_view kLimitsSection = "Limits";

// One key of the section.
struct LimitSetting {
  std::string_view key;
  std::string_view meaning;  // for the README and notes
  int64_t min;
  int64_t max;
  int64_t (*get)(const ServerLimits&);  // the value in the key's unit
  void (*set)(ServerLimits&, int64_t);
};

// Every key, in the order of ServerLimits' fields.
const std::vector<LimitSetting>& LimitSettings();

struct LoadedLimits {
  ServerLimits limits;
  std::vector<std::string> notes;
};

// Reads the section from the file at `path`. Never raises: a file that cannot be read gives the
// defaults.
LoadedLimits LoadLimits(const std::string& path);

}  // namespace velmora
