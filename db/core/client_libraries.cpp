#include "db/core/client_libraries.h"

#include <dlfcn.h>
#include <fmt/core.h>

#include <array>
#include <utility>

#include "db/core/db_error.h"

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

void* TOpenedLibrary::Symbol(const char* name) const {
  void* symbol = ::dlsym(handle_, name);
  if (symbol == nullptr) {
    throw EFDException(fmt::format(fmt::runtime(texts_.no_function), file_, name));
  }
  return symbol;
}

void* TOpenedLibrary::SymbolIfPresent(const char* name) const {
  return ::dlsym(handle_, name);
}

TOpenedLibrary::~TOpenedLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

std::unique_ptr<TOpenedLibrary> OpenClientLibrary(ClientLibrary library, int flags,
                                                  const TClientLibraryTexts& texts) {
  std::string file = ClientLibraryFile(library);
  void* handle = ::dlopen(file.c_str(), flags);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    throw EFDException(
        fmt::format(fmt::runtime(texts.cannot_load), file, why != nullptr ? why : "unknown error"));
  }
  return std::make_unique<TOpenedLibrary>(handle, std::move(file), texts);
}

}  // namespace velmora
