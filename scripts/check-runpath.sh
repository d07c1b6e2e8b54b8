#!/usr/bin/env bash
# Fails when any ELF file under the build folder carries an empty RUNPATH or RPATH
# entry: the loader reads an empty entry as the current folder, so a library
# planted there would be loaded into the program.
#   scripts/check-runpath.sh [BUILD_DIR]   (default build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
bad=0
checked=0
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  checked=$((checked + 1))
  while IFS= read -r path; do
    if [ -z "$path" ] || [[ "$path" == :* || "$path" == *: || "$path" == *::* ]]; then
      echo "empty search path entry in $file: [$path]" >&2
      bad=1
    fi
  done < <(readelf -d "$file" 2>/dev/null | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p')
done < <(find "$build" -type f \( -perm -u+x -o -name '*.so*' -o -name '*.kel' \) -print0)
echo "check-runpath: $checked ELF files checked"
exit "$bad"
