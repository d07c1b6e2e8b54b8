#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
bash "$root/scripts/demo.sh" "$root/build"
