// The Unicode simple case folding (CaseFolding.txt, statuses C and S) as a table of runs, made by
// scripts/gen-case-folding.py. Used through FoldCodePoint (variant/name_fold.h).
//
// A run maps `count` code points, first, first + step, first + 2 * step, ..., each to itself plus
// `delta`. Runs are sorted by `first` and do not overlap; a code point in no run folds to itself.
#pragma once

#include <cstdint>
#include <span>

namespace velmora {

struct CaseFoldingRun {
  char32_t first;
  uint16_t count;
  uint8_t step;   // 1 or 2
  int32_t delta;  // folded = code point + delta
};

std::span<const CaseFoldingRun> CaseFoldingRuns();

}  // namespace velmora
