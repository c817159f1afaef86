#include "common/free_memory.h"

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
