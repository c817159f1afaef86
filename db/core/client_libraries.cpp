#include "db/core/client_libraries.h"

#include <array>
#include <mutex>
#include <utility>

namespace velmora {
namespace {

constexpr std::array<const char*, 3> kDefaultFiles = {
    "libfbclient.so.2",  // kFirebird
    "libpq.so.5",        // kPostgreSql
    "libodbc.so.2",      // kOdbc
};

struct Names {
  std::mutex mu;
  std::array<std::string, 3> replaced;  // empty: the default
};

Names& Table() {
  static Names names;
  return names;
}

}  // namespace

std::string ClientLibraryFile(ClientLibrary library) {
  const auto index = static_cast<size_t>(library);
  Names& names = Table();
  std::lock_guard lock(names.mu);
  const std::string& replaced = names.replaced.at(index);
  return replaced.empty() ? std::string(kDefaultFiles.at(index)) : replaced;
}

void SetClientLibraryFile(ClientLibrary library, std::string file) {
  Names& names = Table();
  std::lock_guard lock(names.mu);
  names.replaced.at(static_cast<size_t>(library)) = std::move(file);
}

}  // namespace velmora
