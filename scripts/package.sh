#!/usr/bin/env bash
# Builds the Debian packages velmora (the server as a systemd service) and velmora-cli into
# build-package/: a Release tree of just the two programs, with Debian's hardening flags, then
# CPack's DEB generator (packaging/Packaging.cmake), then lintian, which must report no error.
# Usage: scripts/package.sh   (scripts/test.sh runs it before the tests, which install the result)
set -euo pipefail
cd "$(dirname "$0")/.."

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# Debian's flags for packaged programs (-O2, stack protector, fortified calls, relro, bindnow);
# CMake reads them from the environment when the tree is first configured. The preprocessor's
# part goes with the compiler's, as CMake has no CPPFLAGS. No -g: the programs are stripped and no
# debug symbol package is made, so it would only slow the build. No -ffile-prefix-map: it names
# the checkout, and ccache would then share nothing between clones. Release adds just -DNDEBUG.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() {
  dpkg-buildflags --get "$1" | sed -e 's/\(^\| \)-g\( \|$\)/ /' -e 's/-ffile-prefix-map=[^ ]*//'
}
CFLAGS="$(flags CFLAGS) $(flags CPPFLAGS)"
CXXFLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)"
LDFLAGS="$(flags LDFLAGS)"
export CFLAGS CXXFLAGS LDFLAGS

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF -DVELMORA_FUZZ=OFF "${launcher[@]}" >/dev/null
cmake --build build-package --target velmora velmora-cli

rm -f build-package/*.deb
(cd build-package && cpack -G DEB >/dev/null)
ls -l build-package/*.deb

# Errors fail the script; the warnings it still shows, and why they are kept, are in
# docs/operations.md.
lintian --fail-on error build-package/*.deb
