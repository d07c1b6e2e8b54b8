#!/usr/bin/env bash
# Sets everything up, builds, and runs every test: the unit and end-to-end suites
# under CTest, then each fuzzer for a bounded time. One line per step; the
# details are in build/logs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib.sh"
logs="$root/build/logs"
run_step setup "$logs/setup.log" bash "$root/scripts/setup.sh"
run_step build "$logs/build.log" bash "$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
STEP_SUMMARY='/tests passed.*out of/p' \
  run_step tests "$logs/tests.log" ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)"
STEP_SUMMARY='/^check-runpath:/p' run_step runpath "$logs/runpath.log" bash "$root/scripts/check-runpath.sh" "$root/build"
fuzz() {
  STEP_SUMMARY='/^fuzz .* runs/p' run_step "fuzz $1" "$logs/fuzz-$1.log" bash "$root/scripts/fuzz.sh" "$1" "$2"
}
fuzz form_reader "${KELVARIN_FUZZ_SECONDS:-60}"
fuzz kelinfo "${KELVARIN_KELINFO_FUZZ_SECONDS:-30}"
fuzz module_file "${KELVARIN_MODULE_FILE_FUZZ_SECONDS:-20}"
fuzz bitmap "${KELVARIN_BITMAP_FUZZ_SECONDS:-20}"
fuzz dictionary "${KELVARIN_DICTIONARY_FUZZ_SECONDS:-20}"
fuzz format "${KELVARIN_FORMAT_FUZZ_SECONDS:-20}"
step_logs
