#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 60).
# Usage: tools/fuzz/run.sh [SECONDS] [target...]
set -euo pipefail
cd "$(dirname "$0")/../.."
secs=${1:-60}
shift || true
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_FUZZ=ON -DTW_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer" >/dev/null
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_terminal fuzz_conversions fuzz_command_encoder fuzz_flash_file fuzz_vmodule_protocol fuzz_config_profile fuzz_command_script)
built=()
for t in "${targets[@]}"; do
  if cmake --build build-fuzz --target "$t" >/dev/null 2>&1; then built+=("$t"); else echo "skip $t (does not build)"; fi
done
mkdir -p tools/fuzz/out
for t in "${built[@]}"; do
  corpus=tools/fuzz/corpus/${t#fuzz_}
  work=tools/fuzz/out/${t#fuzz_}
  mkdir -p "$corpus" "$work"
  echo "== $t for ${secs}s"
  QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 ./build-fuzz/tools/fuzz/"$t" "$work" "$corpus" \
    -max_total_time="$secs" -rss_limit_mb=1024 -timeout=10 -artifact_prefix=tools/fuzz/out/ -print_final_stats=1 2>&1 |
    grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Done' || true
done
