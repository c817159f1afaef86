// The largest single operator-new request of the test program since the last reset, to show
// that a decoder's allocations follow the input it has read rather than the counts it claims.
#pragma once

#include <cstddef>

void ResetLargestAllocation();
size_t LargestAllocation();
