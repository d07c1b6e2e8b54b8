#!/usr/bin/env bash
# Sets everything up, builds, and runs every test: the unit and end-to-end suites
# under CTest, then each fuzzer for a bounded time.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)"
bash "$root/scripts/check-runpath.sh" "$root/build"
bash "$root/scripts/fuzz.sh" form_reader "${KELVARIN_FUZZ_SECONDS:-60}"
bash "$root/scripts/fuzz.sh" kelinfo "${KELVARIN_KELINFO_FUZZ_SECONDS:-30}"
bash "$root/scripts/fuzz.sh" module_file "${KELVARIN_MODULE_FILE_FUZZ_SECONDS:-20}"
bash "$root/scripts/fuzz.sh" bitmap "${KELVARIN_BITMAP_FUZZ_SECONDS:-20}"
bash "$root/scripts/fuzz.sh" dictionary "${KELVARIN_DICTIONARY_FUZZ_SECONDS:-20}"
bash "$root/scripts/fuzz.sh" format "${KELVARIN_FORMAT_FUZZ_SECONDS:-20}"
