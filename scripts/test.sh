#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# No layer may include or link one above it (the order is VELMORA_LAYERS in CMakeLists.txt).
python3 scripts/check-layers.py
# The tree is formatted by its .clang-format.
bash scripts/check-format.sh

# ccache, where installed, makes a rebuild of an unchanged tree (CI after a local run) quick; paths
# are taken relative to the checkout so that every clone shares the cache.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DVELMORA_SANITIZE=ON -DVELMORA_WERROR=ON -DVELMORA_BENCH=ON "${launcher[@]}"
cmake --build build-asan
# The Debian packages, which the package test unpacks and runs (a Release tree of the two programs
# in build-package/, rebuilt from ccache's cache when the sources did not change).
bash scripts/package.sh

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The Access file the MSAcc test reads, when the shared fixtures lie beside the checkout (it is
# never copied into the repository); without it that test says it skipped.
if [ -z "${VELMORA_TEST_MDB:-}" ] && [ -f ../shared/fixtures/DateTestDatabase.mdb ]; then
  export VELMORA_TEST_MDB=$(realpath ../shared/fixtures/DateTestDatabase.mdb)
fi
ctest --test-dir build-asan --output-on-failure -j2

# The fuzz targets (fuzz/), built with clang in build-fuzz/ and each run for 10 seconds on a scratch
# copy of its seeds, so that they keep building and running (scripts/fuzz.sh, docs/testing.md).
bash scripts/fuzz.sh 10
