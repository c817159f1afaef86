#include "app/config/metrics_config.h"

#include <fmt/format.h>

#include <charconv>
#include <exception>

#include "app/config/ini_file.h"

namespace velmora {

MetricsConfig LoadMetricsConfig(const std::string& path) {
  MetricsConfig out;
  std::string port_text;
  std::string address;
  try {
    port_text = GetPrivateProfileString(kMetricsSection, "Port", "", path);
    address = GetPrivateProfileString(kMetricsSection, "Address", "", path);
  } catch (const std::exception&) {
    return out;  // an unreadable file leaves the listener off
  }
  if (!address.empty()) out.address = address;
  if (port_text.empty()) return out;
  int port = 0;
  const char* end = port_text.data() + port_text.size();
  const auto [stop, ec] = std::from_chars(port_text.data(), end, port);
  if (ec != std::errc() || stop != end || port < 1 || port > 65535) {
    out.notes.push_back(
        fmt::format("CONFIG.CFG [{}] Port={} is not a port from 1 to 65535; metrics are off",
                    kMetricsSection, port_text));
    return out;
  }
  out.port = port;
  return out;
}

}  // namespace velmora
