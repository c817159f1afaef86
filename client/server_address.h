// Server addresses for a client: "host", "host:port", "[v6]:port" entries, comma-separated. Pure
// functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct TServerAddress {
  std::string host;  // a name or an address; IPv6 without brackets
  uint16_t port = 0;
};

// "a,b:212,[::1]:2000": the entries in the order given; an entry without a port takes
// `defaultPort`; a bare IPv6 address ("::1", more than one colon) is a host without a port.
// Blanks around entries are ignored. Throws std::invalid_argument naming the entry for an empty
// list or entry, an empty host, an unclosed bracket or a port that is not 1..65535.
std::vector<TServerAddress> ParseServerAddresses(std::string_view text, uint16_t defaultPort);

// "host:port", or "[v6]:port" for a host holding a colon.
std::string FormatServerAddress(const TServerAddress& address);

}  // namespace velmora
