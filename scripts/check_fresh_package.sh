#!/usr/bin/env bash
# Runs scripts/package.sh the way the README says, in a fresh clone of this
# source tree with the build folder outside the clone, and checks that the
# package lands in the clone's dist/ and that lintian found no error (the
# script fails on one). Used by the test suite (plain build only). The clone's
# compiler cache lives in CACHE_DIR, so later runs take a fraction of the first.
#   bash scripts/check_fresh_package.sh CACHE_DIR
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
git -C "$src" rev-parse --git-dir >/dev/null 2>&1 || { echo "not a git checkout: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

git clone -q "$src" "$work/clone"
if command -v ccache >/dev/null; then
  mkdir -p "$1"
  export CCACHE_DIR=$(cd "$1" && pwd) CCACHE_BASEDIR="$work" CCACHE_NOHASHDIR=1
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
bash "$work/clone/scripts/package.sh" "$work/build" >"$work/log" 2>&1 || { tail -n 40 "$work/log" >&2; fail "package.sh"; }
deb=$(ls "$work"/clone/dist/tarnwick-panel_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "no package in the clone's dist/"
files=$(dpkg-deb -c "$deb")
grep -q '/usr/share/man/man1/tarnwick-panel.1.gz' <<<"$files" || fail "manual page missing"
grep -q '/usr/share/icons/hicolor/256x256/apps/tarnwick-panel.png' <<<"$files" || fail "icon missing"
grep '^lintian:' "$work/log" || true
echo "fresh clone package ok: $(basename "$deb")"
