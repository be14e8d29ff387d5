#!/usr/bin/env bash
# Builds the benchmarks (RelWithDebInfo, -DTW_BENCH=ON), runs them all and
# prints one table: measure | figure | goal, with the machine underneath.
#
#   tools/bench/run.sh [BUILD_DIR]     (default: build-bench in the repository)
#
# JOBS sets the build parallelism (default 2). Each bench prints lines
# "BENCH<TAB>measure<TAB>figure<TAB>goal"; their full output is kept in
# BUILD_DIR/bench-logs/.
set -u
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$repo/build-bench}
jobs=${JOBS:-2}

generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S "$repo" -B "$build" "${generator[@]}" -DTW_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
benches=(bench_idle_port bench_port_list bench_terminal bench_operations bench_find_module bench_startup bench_traffic_terminal bench_cli bench_record bench_link_test bench_station)
cmake --build "$build" -j "$jobs" --target "${benches[@]}" tarnwick-panel tarnwick-vmodule tarnwick-cli >&2 || exit 1

logs=$build/bench-logs
mkdir -p "$logs"
rows=()
status=0
for b in "${benches[@]}"; do
    echo "== $b" >&2
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/tools/bench/$b" >"$logs/$b.log" 2>&1
    rc=$?
    grep -v $'^BENCH\t' "$logs/$b.log" >&2
    found=0
    while IFS=$'\t' read -r tag measure figure goal; do
        [ "$tag" = BENCH ] || continue
        rows+=("| $measure | $figure | $goal |")
        found=1
    done <"$logs/$b.log"
    if [ "$rc" -eq 2 ] && [ "$found" = 1 ]; then
        status=1
        rows+=("| $b | a goal above was missed | |")
    elif [ "$rc" -ne 0 ]; then
        status=1
        rows+=("| $b | FAILED (exit $rc, see $logs/$b.log) | |")
    fi
done

cores=$(nproc)
cpu=$(sed -n 's/^model name[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo | head -n 1)
debian=$(cat /etc/debian_version 2>/dev/null || echo unknown)
echo
echo "| measure | figure | goal |"
echo "|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "Machine: $cores core(s), ${cpu:-unknown CPU}, Debian $debian, $(date -u +%Y-%m-%d)"
exit $status
