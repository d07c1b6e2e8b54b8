#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job. One line per step; the
# details are in build/logs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib.sh"
logs="$root/build/logs"
run_step setup "$logs/setup.log" bash "$root/scripts/setup.sh"
run_step build "$logs/build.log" bash "$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
STEP_SUMMARY='/^\(No display\|Close the main window\|Screenshots\|Log file\)/p' \
  run_step demo "$logs/demo.log" bash "$root/scripts/demo.sh" "$root/build"
step_logs
