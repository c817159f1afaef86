#include "client/server_address.h"

#include <fmt/format.h>

#include <charconv>
#include <stdexcept>

namespace velmora {
namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

uint16_t ParsePort(std::string_view digits, std::string_view entry) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value == 0 ||
      value > 65535)
    throw std::invalid_argument(
        fmt::format("Bad port in server address '{}': expected 1 to 65535", entry));
  return static_cast<uint16_t>(value);
}

TServerAddress ParseEntry(std::string_view entry, uint16_t default_port) {
  TServerAddress a;
  a.port = default_port;
  if (entry.front() == '[') {
    const auto close = entry.find(']');
    if (close == std::string_view::npos)
      throw std::invalid_argument(fmt::format("Unclosed '[' in server address '{}'", entry));
    a.host = entry.substr(1, close - 1);
    const std::string_view rest = entry.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':')
        throw std::invalid_argument(
            fmt::format("Unexpected text after ']' in server address '{}'", entry));
      a.port = ParsePort(rest.substr(1), entry);
    }
  } else if (const auto colon = entry.find(':');
             colon != std::string_view::npos &&
             entry.find(':', colon + 1) == std::string_view::npos) {
    a.host = entry.substr(0, colon);
    a.port = ParsePort(entry.substr(colon + 1), entry);
  } else {
    a.host = entry;  // a name, an IPv4 address, or a bare IPv6 address
  }
  if (a.host.empty())
    throw std::invalid_argument(fmt::format("No host in server address '{}'", entry));
  return a;
}

}  // namespace

std::vector<TServerAddress> ParseServerAddresses(std::string_view text, uint16_t defaultPort) {
  std::vector<TServerAddress> result;
  const std::string_view whole = text;
  if (Trim(text).empty()) throw std::invalid_argument("No server address given");
  for (;;) {
    const auto comma = text.find(',');
    const std::string_view entry = Trim(text.substr(0, comma));
    if (entry.empty())
      throw std::invalid_argument(fmt::format("Empty entry in server address list '{}'", whole));
    result.push_back(ParseEntry(entry, defaultPort));
    if (comma == std::string_view::npos) return result;
    text.remove_prefix(comma + 1);
  }
}

std::string FormatServerAddress(const TServerAddress& address) {
  return address.host.find(':') == std::string::npos
             ? fmt::format("{}:{}", address.host, address.port)
             : fmt::format("[{}]:{}", address.host, address.port);
}

}  // namespace velmora
