#!/usr/bin/env bash
# Regenerates docs/screenshots/*.png: starts the panel with its virtual module
# on a virtual X display, clicks each page's tab and captures the window.
# Needs xvfb-run, xdotool and ImageMagick (import, convert).
# Usage: bash scripts/screenshots.sh [BUILD_DIR]    (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/screenshots
if [ ! -x "$build/tarnwick-panel" ]; then
  cmake -S . -B "$build" -G Ninja -DTW_BENCH=OFF >/dev/null
  cmake --build "$build" --target tarnwick-panel tarnwick-vmodule
fi
for tool in xvfb-run xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool is missing" >&2; exit 1; }
done
mkdir -p "$out"

if [ "${TW_IN_XVFB:-}" != 1 ]; then
  exec env TW_IN_XVFB=1 xvfb-run -a -s '-screen 0 1280x900x24' bash "$0" "$build"
fi

# Inside the virtual display from here on. The panel's start values, and
# the user's remembered settings untouched: a settings folder of its own.
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
"$build/tarnwick-panel" --simulate &
panel=$!
trap 'kill "$panel" 2>/dev/null || true' EXIT
wid=$(timeout 30 xdotool search --sync --onlyvisible --name 'Tarnwick Control Panel' | head -n1)
[ -n "$wid" ] || { echo "screenshots.sh: the panel window did not appear" >&2; exit 1; }

# Tab centres (x) on the tab row (y = 32) at the window's default size.
pages=(jumper-settings:60 com-port:160 config-memory:257 flash-memory:369 command:466 terminal:546)
for page in "${pages[@]}"; do
  name=${page%%:*}
  x=${page##*:}
  xdotool mousemove --window "$wid" "$x" 32 click 1
  # Move the pointer off the window so no hover highlight is captured.
  xdotool mousemove 1200 880
  sleep 0.7  # let the page paint; a screenshot, not a test
  import -window "$wid" "png:/tmp/tw-shot-$$.png"
  # Keep whichever is smaller: full colour, or a 256-colour palette (the
  # board artwork shrinks to a third that way; flat pages often do not).
  convert "/tmp/tw-shot-$$.png" -strip -define png:compression-level=9 "/tmp/tw-full-$$.png"
  convert "/tmp/tw-shot-$$.png" -strip +dither -colors 256 -define png:compression-level=9 "PNG8:/tmp/tw-pal-$$.png"
  if [ "$(stat -c %s "/tmp/tw-pal-$$.png")" -lt "$(stat -c %s "/tmp/tw-full-$$.png")" ]; then
    mv "/tmp/tw-pal-$$.png" "$out/$name.png"
  else
    mv "/tmp/tw-full-$$.png" "$out/$name.png"
  fi
  rm -f "/tmp/tw-shot-$$.png" "/tmp/tw-full-$$.png" "/tmp/tw-pal-$$.png"
  echo "$out/$name.png"
done
