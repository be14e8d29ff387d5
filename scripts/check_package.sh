#!/usr/bin/env bash
# Builds a .deb from BUILD_DIR's install rules and checks what it holds:
# programs, menu entry, icons, manual pages, metainfo, copyright, computed
# dependencies. Used by the test suite; scripts/package.sh makes the release one.
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$out" >/dev/null) || fail "cpack"
deb=$(ls "$out"/tarnwick-panel_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "no package built"
files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')

need() { grep -qx "$1" <<<"$files" || fail "missing $1"; }
need /usr/bin/tarnwick-panel
need /usr/bin/tarnwick-vmodule
need /usr/share/applications/tarnwick-panel.desktop
for n in 16 24 32 48 64 128 256; do need /usr/share/icons/hicolor/${n}x${n}/apps/tarnwick-panel.png; done
need /usr/share/man/man1/tarnwick-panel.1.gz
need /usr/share/man/man1/tarnwick-vmodule.1.gz
need /usr/share/metainfo/net.tarnwick.TarnwickPanel.metainfo.xml
need /usr/share/doc/tarnwick-panel/copyright
# Every installed program has its manual page (the command-line tool too, when built).
for b in $(grep '^/usr/bin/[^/]\+$' <<<"$files"); do need "/usr/share/man/man1/$(basename "$b").1.gz"; done
if grep -q '^/usr/local' <<<"$files"; then fail "files under /usr/local"; fi

x="$out/x"
dpkg-deb -x "$deb" "$x"
info=$(dpkg-deb -f "$deb" Depends Description)
grep -q 'libqt6widgets6' <<<"$info" || fail "dependencies not computed from the binaries: $info"
grep -q 'dialout' <<<"$info" || fail "description does not mention the dialout group"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$x/usr/share/applications/tarnwick-panel.desktop" || fail "desktop file"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$x/usr/share/metainfo/net.tarnwick.TarnwickPanel.metainfo.xml" >/dev/null \
    || fail "metainfo"
fi
if command -v man >/dev/null; then
  for m in "$x"/usr/share/man/man1/*.1.gz; do
    text=$(MANWIDTH=80 man -l "$m" 2>&1) || fail "man -l $m"
    grep -q 'NAME' <<<"$text" || fail "man page $m renders without a NAME section"
  done
fi
for p in 16 256; do
  file "$x/usr/share/icons/hicolor/${p}x${p}/apps/tarnwick-panel.png" 2>/dev/null | grep -q "PNG image data, $p x $p" \
    || [ ! -x /usr/bin/file ] || fail "icon ${p}x${p}"
done
# The packaged programs start without a display for --version.
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$x/usr/bin/tarnwick-panel" --version | grep -q '^tarnwick-panel 1\.17' \
  || fail "tarnwick-panel --version"
echo "package ok: $(basename "$deb"), $(wc -l <<<"$files") entries"
