#!/usr/bin/env bash
# Builds and runs every test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
# One line per step; the details are in build-asan/logs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib.sh"
logs="$root/build-asan/logs"
run_step setup "$logs/setup.log" bash "$root/scripts/setup.sh"
run_step "sanitizer build" "$logs/build.log" bash "$root/scripts/build.sh" "$root/build-asan" \
  -DCMAKE_BUILD_TYPE=Debug -DKELVARIN_SANITIZE=ON -DKELVARIN_BUILD_BENCH=OFF
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
STEP_SUMMARY='/tests passed.*out of/p' \
  run_step "sanitizer tests" "$logs/tests.log" ctest --test-dir "$root/build-asan" --output-on-failure -j "$(nproc)"
step_logs
