// Giving the allocator's free memory back to the system. glibc keeps memory freed inside its
// arenas (one per thread, up to eight per CPU, each growing to what its busiest moment needed) and
// gives back only the free top of each: after a burst of connections, each with a thread of its
// own, most of what they used stays resident although nothing uses it. A trim hands the free
// pages of every arena back.
//
// Thread rules: any thread, at any time; the allocator locks each arena in turn while it walks
// it, so a trim is for moments when activity has fallen, not for every call.
#pragma once

namespace velmora {

// Gives the free pages of every allocator arena back to the system (malloc_trim(0) with glibc;
// nothing elsewhere).
void ReturnFreeMemoryToSystem();

}  // namespace velmora
