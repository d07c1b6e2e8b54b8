#!/usr/bin/env bash
# Builds one fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz and runs it for a bounded time.
#   scripts/fuzz.sh [form_reader|kelinfo|module_file|bitmap|dictionary|format] [seconds]   (default form_reader, 60)
# Exits non-zero when the fuzzer finds a crash, a leak or a sanitizer report;
# the input that caused it is left in build-fuzz/artifacts/.
set -euo pipefail
target="${1:-form_reader}"
seconds="${2:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
instrument="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

case "$target" in
form_reader) extra=(-dict="$root/fuzz/form_reader.dict") ;;
kelinfo) extra=(-max_len=16384) ;;
module_file)
  extra=(-max_len=16384)
  corpus=kelinfo # the same modules, read from a file
  ;;
bitmap) extra=() ;;
dictionary) extra=(-max_len=8192) ;;
format) extra=(-max_len=256) ;;
*)
  echo "fuzz.sh: no fuzzer named '$target' (form_reader, kelinfo, module_file, bitmap, dictionary, format)" >&2
  exit 2
  ;;
esac

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$instrument" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DKELVARIN_BUILD_FUZZ=ON -DKELVARIN_BUILD_TESTS=OFF -DKELVARIN_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" -j2 "${target}_fuzz"

# New inputs go to a scratch corpus; the seeds in the tree stay as they are.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch" "$scratch.out"' EXIT
mkdir -p "$build/artifacts"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
"$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  "${extra[@]}" -artifact_prefix="$build/artifacts/" -print_final_stats=1 \
  "$scratch" "$root/fuzz/corpus/${corpus:-$target}" 2>&1 | tee "$scratch.out"
# The fuzzer stops at its first crash, so one that ends well found none.
done_line="$(sed -n 's/^Done \([0-9]* runs in [0-9]*\) second.*/\1 s/p' "$scratch.out")"
echo "fuzz $target: ${done_line:-? runs in $seconds s}, 0 crashes"
