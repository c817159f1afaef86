// The defaults the server and its clients agree on when nothing else is configured: the TCP port
// the service listens on and the service account a fresh CONFIG.CFG holds. The shell's settings,
// the transport, the host and the clients all start from these, so they are declared once here.
#pragma once

#include <cstdint>
#include <string_view>

namespace velmora {

inline constexpr uint16_t kDefaultServicePort = 211;
inline constexpr std::string_view kDefaultUserName = "admin";
// The service password when CONFIG.CFG holds none.
inline constexpr std::string_view kDefaultPassword = "velmo";

}  // namespace velmora
