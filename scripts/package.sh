#!/usr/bin/env bash
# Builds the Release Debian package of the panel into dist/:
#   bash scripts/package.sh [BUILD_DIR]      (default build-release)
# then install it with: sudo apt-get install ./dist/tarnwick-panel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
TW_WITH_PACKAGE=1 bash scripts/deps.sh
build=${1:-build-release}
# Debian's hardening flags (fortify, stack protector, relro, bind-now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTW_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
# Everything the install rules place (programs, icons, manual pages), not the tests.
targets=$(cmake --build "$build" --target help | sed -n 's/^\(tarnwick-[a-z]*\|man_[^:]*\|debian_changelog\): .*/\1/p')
cmake --build "$build" -j "$(nproc)" --target $targets
mkdir -p dist
(cd "$build" && cpack -G DEB -B "$PWD/../dist" >/dev/null)
rm -rf dist/_CPack_Packages
ls dist/*.deb
