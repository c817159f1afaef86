#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz/ (a fuzz build: only the layers
# they link, instrumented for the fuzzer and the sanitizers) and runs each for a few seconds on a
# scratch copy of its seeds, so that they keep building and running. A finding fails the run; its
# input is left in build-fuzz/findings/ and the repository is never written.
# Usage: scripts/fuzz.sh [SECONDS [NAME...]]  (10 seconds each, every target by default; NAME is
# a target's name, such as inflate). docs/testing.md says how to run one longer and keep seeds.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
[ $# -gt 0 ] && shift

# Every fuzz/<layer>/<name>_fuzz.cpp is a target, its seeds in fuzz/<layer>/seeds/<name>/.
declare -A seeds=()
for source in fuzz/*/*_fuzz.cpp; do
  name=$(basename "$source" _fuzz.cpp)
  seeds[$name]=$(dirname "$source")/seeds/$name
done
names=("$@")
[ ${#names[@]} -eq 0 ] && mapfile -t names < <(printf '%s\n' "${!seeds[@]}" | sort)
for name in "${names[@]}"; do
  [ -n "${seeds[$name]:-}" ] || { echo "fuzz: no target $name" >&2; exit 2; }
done

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON \
  -DVELMORA_WERROR=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}"
cmake --build build-fuzz --target "${names[@]/#/velmora-fuzz-}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p build-fuzz/findings build-fuzz/logs
status=0
for name in "${names[@]}"; do
  corpus=build-fuzz/corpus/$name
  log=build-fuzz/logs/$name.log
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp -r "${seeds[$name]}/." "$corpus/"
  # -timeout: an input that takes this long is a finding (a hang), not a slow machine.
  if build-fuzz/bin/velmora-fuzz-"$name" -max_total_time="$seconds" -timeout=25 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$name-" \
    "$corpus" >"$log" 2>&1; then
    echo "fuzz: $name: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$') inputs in ${seconds}s, no finding"
  else
    tail -n 60 "$log"
    echo "fuzz: $name found a fault (log $log, input in build-fuzz/findings/)" >&2
    status=1
  fi
done
exit $status
