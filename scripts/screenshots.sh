#!/usr/bin/env bash
# Regenerates docs/screenshots/*.png: starts the panel with its virtual module
# on a virtual X display, clicks each page's tab and captures the window.
# Needs xvfb-run, xdotool and ImageMagick (import, convert).
# Usage: bash scripts/screenshots.sh [BUILD_DIR]    (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/screenshots
if [ ! -x "$build/tarnwick-panel" ] || [ ! -x "$build/tarnwick-vmodule" ]; then
  cmake -S . -B "$build" -G Ninja -DTW_BENCH=OFF >/dev/null
  cmake --build "$build" --target tarnwick-panel tarnwick-vmodule
fi
for tool in xvfb-run xdotool import convert python3; do
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

# Captures the window as $out/$1.png (whichever of full colour and a
# 256-colour palette is smaller).
shoot() {
  import -window "$wid" "png:/tmp/tw-shot-$$.png"
  convert "/tmp/tw-shot-$$.png" -strip -define png:compression-level=9 "/tmp/tw-full-$$.png"
  convert "/tmp/tw-shot-$$.png" -strip +dither -colors 256 -define png:compression-level=9 "PNG8:/tmp/tw-pal-$$.png"
  if [ "$(stat -c %s "/tmp/tw-pal-$$.png")" -lt "$(stat -c %s "/tmp/tw-full-$$.png")" ]; then
    mv "/tmp/tw-pal-$$.png" "$out/$1.png"
  else
    mv "/tmp/tw-full-$$.png" "$out/$1.png"
  fi
  rm -f "/tmp/tw-shot-$$.png" "/tmp/tw-full-$$.png" "/tmp/tw-pal-$$.png"
  echo "$out/$1.png"
}

# Tab centres (x) on the tab row (y = 32) at the window's default size.
pages=(jumper-settings:60 com-port:160 config-memory:257 flash-memory:369 command:466 terminal:546)
for page in "${pages[@]}"; do
  name=${page%%:*}
  x=${page##*:}
  xdotool mousemove --window "$wid" "$x" 32 click 1
  # Move the pointer off the window so no hover highlight is captured.
  xdotool mousemove 1200 880
  sleep 0.7  # let the page paint; a screenshot, not a test
  shoot "$name"
done

# The Config Memory page after "Read Config": a module of its own whose
# configuration memory holds a few values off the start values.
kill "$panel" 2>/dev/null || true
wait "$panel" 2>/dev/null || true
image=/tmp/tw-config-$$.bin
python3 - "$image" <<'PY'
import sys
img = bytearray(128)
img[0:48] = bytes.fromhex("D80838D8DC0C3CDCE01040E0E41444E4B8E818B8BCEC1CBCC0F020C0C4F424C4C8F828C8CCFC2CCCD00030D0D40434D4")
img[0x30:0x40] = bytes(v & 0xFF for v in (-10, 5, 20, -10, 30, -40, 0, 30, 0, 0, 0, 0, 93, -94, 12, 93))
img[0x40:0x50] = bytes.fromhex("A1B2C3D4E5F60718293A4B5C6D7E8F90")
img[0x55], img[0x56], img[0x57] = 5 * 4, 0xB1, 0x19          # Channel 5; 76800 bps, Point B; 57600 baud 8,n,1
img[0x5E:0x62] = bytes([0xAB, 0x12, 0xAB, 0x12])             # unit address 12AB
img[0x62:0x66] = bytes([0xFD, 0xFF, 0x1F, 0x1B])             # -3 degrees C
img[0x66], img[0x68], img[0x69] = 0x01, 0x02, 0x01           # Cable Link
img[0x6A:0x7A] = b"ATD" + bytes(5) + b"+++" + b"ATH" + bytes(2)
img[0x7A:0x80] = bytes([0xFC, 0x01, 0xFF, 0xFF, 0xFF, 0xFF])  # custom baud 9600
open(sys.argv[1], "wb").write(img)
PY
exec 3< <("$build/tarnwick-vmodule" --config-image "$image")
vmod=$!
read -r -u 3 port
"$build/tarnwick-panel" --port "$port" &
panel=$!
trap 'kill "$panel" "$vmod" 2>/dev/null || true; rm -f "$image"' EXIT
wid=$(timeout 30 xdotool search --sync --onlyvisible --name 'Tarnwick Control Panel' | head -n1)
[ -n "$wid" ] || { echo "screenshots.sh: the panel window did not appear" >&2; exit 1; }
xdotool mousemove --window "$wid" 160 32 click 1    # Com Port
sleep 0.5
xdotool mousemove --window "$wid" 63 322 click 1    # Open Port
sleep 0.5
xdotool mousemove --window "$wid" 257 32 click 1    # Config Memory
sleep 0.5
xdotool mousemove --window "$wid" 461 333 click 1   # Read Config
xdotool mousemove 1200 880
sleep 2.5  # the read takes about 0.3 s; a screenshot, not a test
shoot config-memory-read

# The Station window: made by its test (a virtual module passed, a silent
# line failed), with a record folder of its own.
cmake --build "$build" --target station_test_station_window >/dev/null
TW_SHOT="$PWD/$out/station.png" QT_QPA_PLATFORM=offscreen XDG_DATA_HOME=$(mktemp -d) \
  "$build/tests/station_test_station_window" passAndFailTiles >/dev/null
echo "$out/station.png"
