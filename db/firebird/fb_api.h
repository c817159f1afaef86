// The Firebird client library (libfbclient.so.2, or the file db/core/client_libraries.h names for
// it), loaded when the first FB connection opens and kept for the life of the process. Only
// ibase.h's declarations are used: every function called is resolved here, so the program never
// links the library and runs without it.
//
// The rules:
// - FbApi() loads the library and resolves every entry once; a missing library or entry raises
//   EFDException naming the file (and the entry), then and on every later call.
// - The first successful load registers fb_shutdown for process exit: the engine's threads and
//   open attachments end before the process does. The library's own shutdown on SIGINT / SIGTERM
//   is refused: the program stops on those signals itself, and the exit then shuts it down. The
//   refusal is not enough on its own (the handler still runs on whichever thread the signal lands
//   on, and a stop racing it hung in a detach), so the server blocks both signals in every thread.
#pragma once

#include <ibase.h>

namespace velmora {

struct TFbApi {
#define VELMORA_FB_ENTRY(name) decltype(&::name) name = nullptr;
#include "db/firebird/fb_api_entries.inc"
#undef VELMORA_FB_ENTRY
};

// The resolved table; raises EFDException when the library or an entry cannot be had.
const TFbApi& FbApi();

}  // namespace velmora
