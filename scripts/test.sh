#!/usr/bin/env bash
# Installs what is missing, builds and runs every test through CTest, then
# runs the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer (the fuzz targets' smoke runs among it), and the
# serial event-thread tests under ThreadSanitizer. TW_SANITIZE_RUN=0 skips the
# two sanitizer passes. The driver tests (a QEMU machine with the kernel's
# serial drivers) run in the plain pass only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_BENCH=OFF >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

if [ "${TW_SANITIZE_RUN:-1}" = 1 ]; then
  # Also for the build: it runs the panel to draw the installed icons.
  export ASAN_OPTIONS=detect_leaks=0:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=ON -DTW_BENCH=OFF >/dev/null
  cmake --build build-asan -j "$jobs"
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
fi

if [ "${TW_SANITIZE_RUN:-1}" = 1 ]; then
  # The serial event thread, and the operations on their threads: the
  # runner's worker with the window thread observing, Program Pair, Find
  # Module, the Link Test and the tool on four ports.
  tsan_tests=(serial_test_com_events serial_test_com_port_pty serial_test_device_contract module_test_link_test
              module_test_session module_test_module_finder module_test_flash_transfer commands_test_pair_programming
              app_test_operation_runner)
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTW_TSAN=ON -DTW_BENCH=OFF >/dev/null
  cmake --build build-tsan -j "$jobs" --target "${tsan_tests[@]}" tarnwick-cli tarnwick-vmodule
  TSAN_OPTIONS="halt_on_error=1:suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" \
      -R "^($(IFS='|'; echo "${tsan_tests[*]}")|cli_four_ports)\$"
fi
