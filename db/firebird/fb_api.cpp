#include "db/firebird/fb_api.h"

#include <dlfcn.h>
#include <fmt/core.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "db/core/client_libraries.h"
#include "db/core/db_error.h"

namespace velmora {
namespace {

struct TLoaded {
  TFbApi api;
  std::string error;  // empty when every entry was resolved
};

// Set once the library is loaded; never destroyed, so the exit handler below may still use it.
const TLoaded* g_loaded = nullptr;

// Ends the engine's threads and attachments before the process's own exit handlers run.
void ShutdownAtExit() {
  g_loaded->api.fb_shutdown(0, fb_shutrsn_exit_called);
}

// The library shuts itself down from its own SIGINT / SIGTERM handler, on a thread of its own, and
// asks its confirmation callbacks first. The program stops on these signals itself, ending its
// sessions in order and calling fb_shutdown at exit; a second shutdown racing it from the
// library's thread would tear the engine down under running calls, so that one is refused.
int RefuseSignalShutdown(const int reason, const int mask, void*) {
  return mask == fb_shut_confirmation && reason == fb_shutrsn_signal ? 1 : 0;
}

TLoaded Load() {
  TLoaded loaded;
  const std::string file = ClientLibraryFile(ClientLibrary::kFirebird);
  // Never closed: the library keeps threads and state for the life of the process.
  void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    loaded.error = fmt::format("The Firebird client library {} cannot be loaded: {}", file,
                               why != nullptr ? why : "unknown error");
    return loaded;
  }
#define VELMORA_FB_ENTRY(name)                                                                    \
  loaded.api.name = reinterpret_cast<decltype(loaded.api.name)>(::dlsym(handle, #name));          \
  if (loaded.api.name == nullptr && loaded.error.empty()) {                                       \
    loaded.error = fmt::format("The Firebird client library {} has no function {}", file, #name); \
  }
#include "db/firebird/fb_api_entries.inc"
#undef VELMORA_FB_ENTRY
  return loaded;
}

}  // namespace

const TFbApi& FbApi() {
  static const TLoaded& loaded = []() -> const TLoaded& {
    g_loaded = new TLoaded(Load());  // kept for the life of the process
    if (g_loaded->error.empty()) {
      ISC_STATUS_ARRAY status{};
      g_loaded->api.fb_shutdown_callback(status, &RefuseSignalShutdown, fb_shut_confirmation,
                                         nullptr);
      std::atexit(&ShutdownAtExit);
    }
    return *g_loaded;
  }();
  if (!loaded.error.empty()) throw EFDException(loaded.error);
  return loaded.api;
}

}  // namespace velmora
