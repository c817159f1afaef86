#include "db/firebird/fb_api.h"

#include <dlfcn.h>

#include <cstdlib>

#include "db/core/client_libraries.h"

namespace velmora {
namespace {

// Set when the library has loaded; the table lives as long as the process, so the exit handler
// below may still use it.
const TFbApi* g_loaded = nullptr;

// Ends the engine's threads and attachments before the process's own exit handlers run.
void ShutdownAtExit() {
  g_loaded->fb_shutdown(0, fb_shutrsn_exit_called);
}

// The library shuts itself down from its own SIGINT / SIGTERM handler, on a thread of its own, and
// asks its confirmation callbacks first. The program stops on these signals itself, ending its
// sessions in order and calling fb_shutdown at exit; a second shutdown racing it from the
// library's thread would tear the engine down under running calls, so that one is refused.
int RefuseSignalShutdown(const int reason, const int mask, void*) {
  return mask == fb_shut_confirmation && reason == fb_shutrsn_signal ? 1 : 0;
}

void Fill(const TOpenedLibrary& library, TFbApi& api) {
#define VELMORA_FB_ENTRY(name) library.Resolve(#name, api.name);
#include "db/firebird/fb_api_entries.inc"
#undef VELMORA_FB_ENTRY
}

void OnLoaded(const TFbApi& api) {
  g_loaded = &api;
  ISC_STATUS_ARRAY status{};
  api.fb_shutdown_callback(status, &RefuseSignalShutdown, fb_shut_confirmation, nullptr);
  std::atexit(&ShutdownAtExit);
}

}  // namespace

const TFbApi& FbApi() {
  // Never destroyed: the exit handler uses the table after static objects may have gone.
  static auto* library =
      new TClientLibraryApi<TFbApi>(ClientLibrary::kFirebird, RTLD_NOW | RTLD_LOCAL,
                                    {"The Firebird client library {} cannot be loaded: {}",
                                     "The Firebird client library {} has no function {}"},
                                    &Fill, &OnLoaded);
  return library->Get();
}

}  // namespace velmora
