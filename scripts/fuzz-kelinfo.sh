#!/usr/bin/env bash
# Builds kelinfo's section-reader fuzzer with clang in build-fuzz (the same
# configuration as scripts/fuzz.sh) and runs it for a bounded time.
#   scripts/fuzz-kelinfo.sh [seconds]      (default 30)
# Exits non-zero when the fuzzer finds a crash, a leak or a sanitizer report;
# the input is left in build-fuzz/artifacts/.
set -euo pipefail
seconds="${1:-30}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
instrument="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$instrument" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DKELVARIN_BUILD_FUZZ=ON -DKELVARIN_BUILD_TESTS=OFF -DKELVARIN_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" -j2 kelinfo_fuzz

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
"$build/fuzz/kelinfo_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=16384 -artifact_prefix="$build/artifacts/" -print_final_stats=1 \
  "$scratch" "$root/fuzz/corpus/kelinfo"
