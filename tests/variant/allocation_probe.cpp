#include "tests/variant/allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_largest{0};
}

void ResetLargestAllocation() {
  g_largest = 0;
}
size_t LargestAllocation() {
  return g_largest.load();
}

// Kept in a file of its own so that no caller sees the malloc behind it.
void* operator new(size_t n) {
  size_t seen = g_largest.load();
  while (n > seen && !g_largest.compare_exchange_weak(seen, n)) {
  }
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
