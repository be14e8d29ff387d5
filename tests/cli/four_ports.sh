#!/usr/bin/env bash
# The tool on four virtual modules at once: program the flash of all four,
# read it back, probe them. Run with the thread checker's build, where any
# race between the four port threads ends the tool with status 66.
# Usage: four_ports.sh TOOL VMODULE
set -u
tool=$1 vmodule=$2
dir=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
args=()
for i in 1 2 3 4; do
  "$vmodule" --link "$dir/m$i" >"$dir/out$i" 2>&1 &
  pids+=($!)
done
for i in 1 2 3 4; do
  for _ in $(seq 200); do [ -s "$dir/out$i" ] && break; sleep 0.05; done
  args+=(--port "$(head -n1 "$dir/out$i")")
done
head -c 128 /dev/urandom >"$dir/image.bin"
"$tool" -q "${args[@]}" --no-record program-flash "$dir/image.bin" || exit 1
"$tool" -q "${args[@]}" --no-record read-flash -o "$dir/back-{port}.bin" >/dev/null || exit 1
"$tool" -q "${args[@]}" probe >/dev/null || exit 1
for f in "$dir"/back-*.bin; do cmp -s "$f" "$dir/image.bin" || { echo "different: $f"; exit 1; }; done
echo "four ports: programmed, read back and probed"
