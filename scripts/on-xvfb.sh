#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb) of its own, with the openbox window
# manager when KELVARIN_XVFB_WM=openbox, and takes both down afterwards:
#   on-xvfb.sh COMMAND [ARGS...]
# The command sees DISPLAY and QT_QPA_PLATFORM=xcb; its exit status is returned.
set -euo pipefail

if ! command -v Xvfb > /dev/null; then
  echo "on-xvfb.sh: Xvfb is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi

work="$(mktemp -d)"
pids=()
# Taking the servers down never changes the command's exit status.
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
  rm -rf "$work" 2> /dev/null || true
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 "${KELVARIN_XVFB_SCREEN:-1280x1024x24}" -nolisten tcp \
  3> "$work/display" 2> "$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.05
done
if [ ! -s "$work/display" ]; then
  cat "$work/xvfb.log" >&2
  echo "on-xvfb.sh: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
# Under AddressSanitizer:
# - libxkbcommon-x11 gives strndup X atom names that are not NUL-terminated as Qt
#   connects, which strict string checks take for an overflow;
# - the leak check at exit stops every thread with a tracer of its own, which at
#   times crashes ("Tracer caught signal 11") while Qt's X connection thread
#   ends, failing a clean run. The same cases run offscreen with the leak check.
if [ -n "${ASAN_OPTIONS:-}" ]; then
  export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0:detect_leaks=0"
fi

if [ "${KELVARIN_XVFB_WM:-}" = openbox ]; then
  openbox --sm-disable > "$work/openbox.log" 2>&1 &
  pids+=($!)
  # Managed once the window manager owns the screen's selection.
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id' && break
    sleep 0.05
  done
fi

status=0
"$@" || status=$?
# A command that a signal ended says so: its own output may stop mid-line.
if [ "$status" -gt 128 ]; then
  echo "on-xvfb.sh: $1 ended by signal $((status - 128)) ($(kill -l "$((status - 128))" 2> /dev/null || echo unknown))" >&2
fi
exit "$status"
