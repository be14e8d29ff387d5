#!/usr/bin/env bash
# Builds the Release Debian package of the panel into dist/ of this source
# tree, whatever the build folder:
#   bash scripts/package.sh [BUILD_DIR]      (default build-release)
# checks it with lintian (an error fails the script; the summary is printed)
# and then it installs with: sudo apt-get install ./dist/tarnwick-panel_*.deb
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
cd "$src"
TW_WITH_PACKAGE=1 bash scripts/deps.sh
build=${1:-build-release}
mkdir -p "$build"
build=$(cd "$build" && pwd)
dist="$src/dist"
# Debian's hardening flags (fortify, stack protector, relro, bind-now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTW_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
# One target depends on everything the install rules place (programs,
# icons, manual pages, changelog), not on the tests.
cmake --build "$build" -j "$(nproc)" --target package_files
mkdir -p "$dist"
rm -f "$dist"/tarnwick-panel_*.deb
(cd "$build" && cpack -G DEB -B "$dist" >/dev/null)
rm -rf "$dist/_CPack_Packages"
deb=$(ls "$dist"/tarnwick-panel_*.deb)
echo "$deb"
if command -v lintian >/dev/null; then
  # Errors fail the package; warnings and notes are listed in the summary.
  report=$(lintian --display-info --pedantic "$deb" 2>&1 || true)
  [ -n "$report" ] && echo "$report"
  echo "lintian: $(grep -c '^E:' <<<"$report" || true) errors, $(grep -c '^W:' <<<"$report" || true) warnings," \
       "$(grep -c '^I:' <<<"$report" || true) notes, $(grep -c '^P:' <<<"$report" || true) pedantic"
  if grep -q '^E:' <<<"$report"; then exit 1; fi
fi
