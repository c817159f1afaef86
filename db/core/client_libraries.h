// The client libraries of the engines that are not linked into the program: each is loaded with
// dlopen, by file name, when a connection of its engine opens, so a machine without one runs every
// other engine, and only that engine's connections fail, naming the file.
//
// The rules:
// - The names are the Debian libraries' sonames: libfbclient.so.2 (FB), libpq.so.5 (PG),
//   libodbc.so.2 (MSSQL, MSAcc, ODBC), found by the dynamic loader's usual search.
// - SetClientLibraryFile replaces a name for the rest of the process; it takes effect at the
//   engine's next load. A test stands for a machine without a library this way; a machine whose
//   library has another name is served too.
// - A load that succeeds is kept for the life of the process (the library is never closed: it
//   keeps threads, and drivers it loads keep pointers into it). A load that fails, because the
//   file cannot be opened or lacks a function, is not remembered: each open tries again, so a
//   library installed while the server runs is found at the next open.
// Threads: any; one lock guards the names, and one per library its load.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace velmora {

enum class ClientLibrary { kFirebird, kPostgreSql, kOdbc };

// The file name `library` is loaded from.
std::string ClientLibraryFile(ClientLibrary library);
// Replaces that name; an empty `file` restores the default.
void SetClientLibraryFile(ClientLibrary library, std::string file);

// How an engine's messages name its library; fmt patterns.
struct TClientLibraryTexts {
  const char* cannot_load;  // {0}: the file, {1}: the loader's reason
  const char* no_function;  // {0}: the file, {1}: the function's name
};

// A library just opened, for filling the engine's table of functions. Closed again when it goes,
// unless kept: a library without every function is not kept, and the next open tries again.
class TOpenedLibrary {
 public:
  TOpenedLibrary(void* handle, std::string file, const TClientLibraryTexts& texts)
      : handle_(handle), file_(std::move(file)), texts_(texts) {}
  ~TOpenedLibrary();
  TOpenedLibrary(const TOpenedLibrary&) = delete;
  TOpenedLibrary& operator=(const TOpenedLibrary&) = delete;

  // The function `name` into `out`; raises EFDException (no_function) when the library lacks it.
  template <typename Function>
  void Resolve(const char* name, Function& out) const {
    out = reinterpret_cast<Function>(Symbol(name));
  }
  // The function `name` into `out`, or nullptr when the library lacks it: for functions that only
  // newer versions of the library have, which the engine uses when there.
  template <typename Function>
  void ResolveIfPresent(const char* name, Function& out) const {
    out = reinterpret_cast<Function>(SymbolIfPresent(name));
  }
  // Keeps the library loaded for the life of the process.
  void Keep() { handle_ = nullptr; }

 private:
  void* Symbol(const char* name) const;
  void* SymbolIfPresent(const char* name) const;
  void* handle_;
  std::string file_;
  const TClientLibraryTexts& texts_;
};

// Opens `library` with dlopen's `flags`; raises EFDException (cannot_load) when the file cannot
// be opened. `texts` must outlive the result.
std::unique_ptr<TOpenedLibrary> OpenClientLibrary(ClientLibrary library, int flags,
                                                  const TClientLibraryTexts& texts);

// One engine's library and its table of functions `Api`, loaded by the rules above. `Fill` fills
// the table from the opened library; `OnLoaded`, when given, runs once after the load succeeds.
template <typename Api>
class TClientLibraryApi {
 public:
  using Fill = void (*)(const TOpenedLibrary& opened, Api& api);
  using OnLoaded = void (*)(const Api& api);
  TClientLibraryApi(ClientLibrary library, int flags, TClientLibraryTexts texts, Fill fill,
                    OnLoaded on_loaded = nullptr)
      : library_(library), flags_(flags), texts_(texts), fill_(fill), on_loaded_(on_loaded) {}

  // The table, loading the library first when no load has succeeded yet; raises EFDException
  // when this load fails.
  const Api& Get() {
    std::lock_guard lock(mu_);
    if (!loaded_) {
      Api api{};
      const std::unique_ptr<TOpenedLibrary> opened = OpenClientLibrary(library_, flags_, texts_);
      fill_(*opened, api);
      opened->Keep();
      api_ = api;
      loaded_ = true;
      if (on_loaded_ != nullptr) on_loaded_(api_);
    }
    return api_;
  }

 private:
  const ClientLibrary library_;
  const int flags_;
  const TClientLibraryTexts texts_;
  const Fill fill_;
  const OnLoaded on_loaded_;
  std::mutex mu_;
  bool loaded_ = false;
  Api api_{};
};

}  // namespace velmora
