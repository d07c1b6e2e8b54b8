#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it as someone outside the
# tree would:
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

# --- the package is complete
for f in include/keltk/Object.h include/kelvarin/plugin.h include/kelvarin/PluginModule.h \
         lib/libulmKELrp.so lib/libkeltk.so lib/libulmKELrp_static.a lib/libkeltk_static.a \
         bin/tavlo bin/kelinfo bin/Splash.kel bin/DoNothing.kel \
         lib/cmake/Kelvarin/KelvarinConfig.cmake lib/cmake/Kelvarin/KelvarinConfigVersion.cmake \
         lib/cmake/Kelvarin/KelvarinForms.cmake lib/cmake/Kelvarin/KelvarinPlugin.cmake \
         lib/pkgconfig/kelvarin.pc; do
  [[ -e "$prefix/$f" ]] || fail "missing from the package: $f"
done

# --- the tutorial quotes the example's files as they are
tutorial="$source/docs/tutorial.md"
quoted=0
while read -r path; do
  awk -v want="<!-- file: $path -->" '
    $0 == want { found = 1; next }
    found && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }' "$tutorial" >"$work/quoted"
  diff -u "$source/$path" "$work/quoted" >/dev/null || fail "docs/tutorial.md quotes $path differently"
  quoted=$((quoted + 1))
done < <(sed -n 's/^<!-- file: \(.*\) -->$/\1/p' "$tutorial")
[[ $quoted -eq 5 ]] || fail "docs/tutorial.md quotes $quoted files of the example, not 5"

# --- the example, configured and built against the installed copy only
example="$work/greeter"
cp -r "$source/examples/greeter" "$example"
cmake -S "$example" -B "$example/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "configuring the example"; }
cmake --build "$example/build" -j 2 >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building the example"; }
module="$example/build/Greeter.kel"
[[ -f "$module" ]] || fail "Greeter.kel was not built"
# Only the two entry points leave the module.
exports="$(nm -D --defined-only "$module" | awk '$2 == "T" {print $3}' | sort | tr '\n' ' ')"
[[ "$exports" == "GetPluginInfo RegisterKelvarin " ]] || fail "Greeter.kel exports: $exports"

# Log lines without their time stamps.
entries() { sed -E 's/\r$//; s/^ [0-9]{4}\/[0-9]{2}\/[0-9]{2} [0-9:.]{12}  //' "$1"; }
expect_line() {
  grep -Fxq -- "$2" <(entries "$1") || { cat "$1"; fail "no line \"$2\" in $1"; }
}

# --- the example host: merged menu, command, menu click, unload
(cd "$example/build" && ./greeter-host ./Greeter.kel) >"$work/host.out" 2>&1 ||
  { cat "$work/host.out"; fail "greeter-host"; }
expected_host=$'&Plugins\n  &Say Hello\n&Plugins'
[[ "$(cat "$work/host.out")" == "$expected_host" ]] ||
  { cat "$work/host.out"; fail "greeter-host printed an unexpected menu"; }
hostlog="$example/build/greeter-host.kel.log"
[[ -f "$hostlog" ]] || fail "greeter-host wrote no log"
expect_line "$hostlog" "Greeter              A  Hello, World!"
expect_line "$hostlog" "Greeter              A  Hello from the menu!"
expect_line "$hostlog" "MANAGER              A  Manager Closed Normally."

# --- the plug-in in the installed tavlo, driven by the example's script
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cp "$module" "$prefix/bin/"
(cd "$prefix/bin" && ./tavlo --script "$example/greeter.tavlo") >"$work/tavlo.out" 2>&1 ||
  { cat "$work/tavlo.out"; fail "tavlo ran the script with an error"; }
grep -Fxq "Greet: OK" "$work/tavlo.out" || { cat "$work/tavlo.out"; fail "Greet did not answer OK"; }
log="$prefix/bin/tavlo.kel.log"
expect_line "$log" "MANAGER              A  Plugin Loaded: \"kelGreeter\" (\"Greeter.kel\")."
expect_line "$log" "MANAGER              C  Executing command \"Greet\" of plugin \"Greeter.kel\" with 1 argument..."
expect_line "$log" "Greeter              A  Hello, World!"
expect_line "$log" "MANAGER              A  Plugin Unloaded: \"Greeter\" (\"Greeter.kel\")."
expect_line "$log" "MANAGER              A  Manager Closed Normally."

# --- kelinfo: the installed Splash.kel and the example, without loading them
kelinfo="$prefix/bin/kelinfo"
"$kelinfo" "$prefix/bin/Splash.kel" >"$work/splash.txt"
cat >"$work/splash.expected" <<'TXT'
Framework version: 1.0.01.428
Plug-in class:     TkelSplash
DeepName:          Splash Screen
Version:           1.01
Author:            Tamsin Ulmara
Copyright:         Copyright (C) 2004 Ulmara Software
Description:       Provides a Splash Screen for Applications.
MaxInstances:      1
Menu merging:
  Automatic:       False
  MergeType:       mtCreateChildItem
  TargetMenu:      tmPluginsTopLevelMenu
  ValueToSearch:   
  SourceMenu:      
Commands: 3
  Startup_Gauge(Min: ptInteger, Max: ptInteger)
    Caption: Startup
    Hint:    Initializes the progress metter
    Checks:  CheckParamType=True, CheckParamCount=True, AllowNullInAllParams=True
  Increment_Gauge(Message: ptAnsiString)
    Caption: Increment
    Hint:    Increases the progress metter
    Checks:  CheckParamType=True, CheckParamCount=True, AllowNullInAllParams=True
  Hide_Splash()
    Caption: Hide
    Hint:    Hides the splash form
    Checks:  CheckParamType=True, CheckParamCount=True, AllowNullInAllParams=True
TXT
diff -u "$work/splash.expected" "$work/splash.txt" || fail "kelinfo Splash.kel"
"$kelinfo" --json "$module" >"$work/greeter.json"
grep -Fq '"name": "Greet", "caption": "Greet", "hint": "Greets the one named", "params": [{"name": "Who", "type": "ptAnsiString"}], "checkParamType": true, "checkParamCount": true, "allowNullInAllParams": false' \
  "$work/greeter.json" || { cat "$work/greeter.json"; fail "kelinfo --json Greeter.kel"; }
grep -Fq '"sourceMenu": "GreetMenu"' "$work/greeter.json" || fail "kelinfo --json: menu merging"
"$kelinfo" --help >"$work/help.txt" && grep -q '^usage: kelinfo' "$work/help.txt" ||
  fail "kelinfo --help"
[[ "$("$kelinfo" --version)" == "kelinfo 1.0.01.428" ]] || fail "kelinfo --version"
status=0
"$kelinfo" --frob >/dev/null 2>"$work/usage.err" || status=$?
[[ $status -eq 2 ]] && grep -q '^usage: kelinfo' "$work/usage.err" || fail "kelinfo --frob: $status"
# Several files: each listed under its name; one that fails is told and counted.
status=0
"$kelinfo" "$prefix/bin/Splash.kel" "$work/missing.kel" "$module" >"$work/several.txt" \
  2>"$work/several.err" || status=$?
[[ $status -eq 1 ]] || fail "kelinfo with a missing file: exit code $status"
[[ "$(grep -c '^File:' "$work/several.txt")" -eq 2 ]] || fail "kelinfo: $(cat "$work/several.txt")"
grep -Fqx "kelinfo: $work/missing.kel: cannot open the file: No such file or directory" \
  "$work/several.err" || fail "kelinfo missing file: $(cat "$work/several.err")"

# Not plug-in modules: a clear message and exit code 1, never a crash.
printf 'just some text\n' >"$work/text.kel"
head -c 100 "$prefix/bin/Splash.kel" >"$work/truncated.kel"
: >"$work/empty.kel"
for bad in "$work/text.kel" "$work/truncated.kel" "$work/empty.kel" "$prefix/lib/libkeltk.so" \
           "$work" "$work/missing.kel"; do
  status=0
  "$kelinfo" "$bad" >"$work/bad.out" 2>"$work/bad.err" || status=$?
  [[ $status -eq 1 ]] || fail "kelinfo $bad: exit code $status"
  [[ -s "$work/bad.err" && ! -s "$work/bad.out" ]] || fail "kelinfo $bad: no message"
  grep -Fq "kelinfo: $bad: " "$work/bad.err" || fail "kelinfo $bad: $(cat "$work/bad.err")"
done

# --- pkg-config: a host program built from the flags alone
if command -v pkg-config >/dev/null; then
  export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
  printf '#include <kelvarin/manager.h>\nint main() { return 0; }\n' >"$work/pc.cpp"
  # shellcheck disable=SC2046
  c++ "$work/pc.cpp" -o "$work/pc" $(pkg-config --cflags --libs kelvarin) ||
    fail "building with pkg-config kelvarin"
  "$work/pc" || fail "the pkg-config program did not run"
fi
echo "install test passed"
