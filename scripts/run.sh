#!/usr/bin/env bash
# Installs what is missing, builds and starts the panel. With no serial
# device on the machine the panel starts with its virtual module (--simulate).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tarnwick-panel tarnwick-vmodule
args=("$@")
if [ ${#args[@]} -eq 0 ] && ! ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA* /dev/rfcomm* >/dev/null 2>&1; then
  args=(--simulate)
fi
exec ./build/tarnwick-panel "${args[@]}"
