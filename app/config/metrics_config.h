// CONFIG.CFG's section "Metrics": where the HTTP listener for /metrics and /health listens, read
// once at start-up. The listener is off unless the section gives a Port.
//
// Rules:
// - A missing file, section or Port key (or an empty value) leaves the listener off, silently.
// - Port must be an integer from 1 to 65535; anything else leaves the listener off and a note
//   says so.
// - Address is the address to listen on; missing or empty gives 127.0.0.1. It is not checked
//   here: a listener that cannot bind says so when it starts.
// Notes are texts for the operator's log, one per line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

inline constexpr std::string_view kMetricsSection = "Metrics";
inline constexpr std::string_view kDefaultMetricsAddress = "127.0.0.1";

struct MetricsConfig {
  std::string address{kDefaultMetricsAddress};
  int port = 0;  // 0: the listener is off
  std::vector<std::string> notes;

  bool Enabled() const { return port != 0; }
};

// Reads the section from the file at `path`. Never raises: a file that cannot be read gives the
// listener off.
MetricsConfig LoadMetricsConfig(const std::string& path);

}  // namespace velmora
