#include "common/free_memory.h"

// __GLIBC__ is defined by the C library's own headers, so one of them comes before the test.
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velmora {

void ReturnFreeMemoryToSystem() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace velmora
