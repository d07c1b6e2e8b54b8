#!/usr/bin/env bash
# The main job: tavlo, run from the folder that holds the plug-ins, loads Splash
# and drives its gauge through ten start-up steps, then hides the splash; then a
# host with a main menu shows Greeter's entry merged into it.
#   scripts/demo.sh BUILD_DIR
# With no display Qt draws offscreen and the run ends by closing the main form;
# with one, the main form stays up until you close it. Screenshots of the splash,
# the main form and the open merged menu go to BUILD_DIR/demo.
set -euo pipefail
build="$(cd "${1:?usage: demo.sh BUILD_DIR}" && pwd)"
bin="$build/bin"
out="$build/demo"
mkdir -p "$out"

headless=0
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  headless=1
  export QT_QPA_PLATFORM=offscreen
  # Qt wants a private runtime folder and says so when there is none.
  if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
    export XDG_RUNTIME_DIR="$out/runtime"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  fi
fi

splash='"Splash Screen"'
script="$out/demo.tavlo"
{
  echo "# Written by scripts/demo.sh"
  echo "load Splash"
  echo "exec $splash Startup_Gauge 0 10"
  messages=("Reading settings" "Opening the catalogue" "Checking plug-ins" "Loading fonts"
            "Preparing windows" "Connecting commands" "Building menus" "Restoring layout"
            "Starting services" "Ready")
  for step in "${!messages[@]}"; do
    echo "wait 150"
    echo "exec $splash Increment_Gauge \"$((step + 1))/10  ${messages[$step]}...\""
  done
  echo "wait 300"
  echo "screenshot SplashForm \"$out/splash.png\""
  echo "exec $splash Hide_Splash"
  echo "wait 100"
  echo "screenshot Form1 \"$out/main-form.png\""
  if ((headless)); then echo "close"; fi
} >"$script"

log="$bin/tavlo.kel.log"
rm -f "$log"
if ((headless)); then
  echo "No display: running offscreen (QT_QPA_PLATFORM=offscreen)."
else
  echo "Close the main window to end the demo."
fi
(cd "$bin" && ./tavlo --script "$script")
# A host with a main menu: Greeter's entry merged into its "Plugins" menu, opened.
(cd "$bin" && ./greeter-host --screenshot "$out/merged-menu.png" ./Greeter.kel)
echo "Screenshots: $out/splash.png $out/main-form.png $out/merged-menu.png"
echo "Log file:    $log"
