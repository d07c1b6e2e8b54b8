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
         lib/libulmKELrp.so lib/libkeltk.so lib/libulmKELrp.so.1 lib/libkeltk.so.1 \
         lib/libulmKELrp_static.a lib/libkeltk_static.a \
         bin/tavlo bin/kelinfo bin/kelforms bin/Splash.kel bin/DoNothing.kel \
         lib/cmake/Kelvarin/KelvarinConfig.cmake lib/cmake/Kelvarin/KelvarinConfigVersion.cmake \
         lib/cmake/Kelvarin/KelvarinPlugin.cmake \
         lib/pkgconfig/kelvarin.pc lib/pkgconfig/kelvarin-plugin.pc \
         include/kelvarin/QtHost.h lib/libkelvarin-qt.so lib/pkgconfig/kelvarin-qt.pc; do
  [[ -e "$prefix/$f" ]] || fail "missing from the package: $f"
done
# The libraries are known by their ABI version; the linker names are links.
soname() { readelf -d "$1" | sed -n 's/.*(SONAME).*\[\(.*\)\]$/\1/p'; }
for lib in libulmKELrp libkeltk libkelvarin-qt; do
  [[ -L "$prefix/lib/$lib.so" ]] || fail "$lib.so is not a link"
  [[ "$(soname "$prefix/lib/$lib.so")" == "$lib.so.1" ]] || fail "$lib.so: SONAME $(soname "$prefix/lib/$lib.so")"
done

# --- the installed headers are the public surface: the framework's internal
# headers stay behind, and each public one compiles on its own, warning-free.
while read -r internal; do
  for dir in kelvarin keltk; do
    [[ ! -e "$prefix/include/$dir/$(basename "$internal")" ]] ||
      fail "internal header installed: include/$dir/$(basename "$internal")"
  done
done < <(find "$source/framework/src" "$source/toolkit/src" -name '*.h')
(cd "$prefix/include" && find kelvarin keltk -name '*.h' -print0) |
  xargs -0 -P 2 -I{} sh -c 'printf "#include <%s>\n" "$1" |
    c++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$2/include" -x c++ - ||
    { echo "FAIL: $1 does not compile on its own" >&2; exit 255; }' sh {} "$prefix" ||
  fail "installed headers"

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
[[ $quoted -eq 7 ]] || fail "docs/tutorial.md quotes $quoted files of the examples, not 7"

# --- the examples the docs point at are installed, as sources only
examples="$prefix/share/kelvarin/examples"
for f in greeter/CMakeLists.txt greeter/Makefile greeter/GreeterHost.cpp greeter/greeter.tavlo \
         notes/CMakeLists.txt notes/NotesForm.kfm qt-host/CMakeLists.txt qt-host/Makefile \
         splash/Splash_Plugin.cpp splash/Splash_Form.kfm donothing/DoNothing.cpp tavlo/Unit1.cpp; do
  [[ -f "$examples/$f" ]] || fail "missing from the package: share/kelvarin/examples/$f"
done
products="$(find "$examples" -mindepth 2 ! -type f -o -name '*.forms.cpp' -o -type f ! \( \
  -name '*.cpp' -o -name '*.h' -o -name '*.kfm' -o -name '*.tavlo' -o -name CMakeLists.txt -o -name Makefile \))"
[[ -z "$products" ]] || fail "not sources in share/kelvarin/examples: $products"

# --- the example, copied from the package and built against it alone, with the
# tutorial's own commands word for word: run from a home whose kelvarin is the package.
example="$work/greeter"
cp -r "$examples/greeter" "$example"
ln -s "$prefix" "$work/kelvarin"
awk '/^## 5\. Build and inspect it/ { section = 1; next }
     section && /^```sh$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$tutorial" >"$work/tutorial-build.sh"
grep -q '^cmake --build greeter/build$' "$work/tutorial-build.sh" ||
  fail "docs/tutorial.md section 5 does not build greeter/build: $(cat "$work/tutorial-build.sh")"
(cd "$work" && HOME="$work" bash -euo pipefail "$work/tutorial-build.sh") >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "building the example as the tutorial says"; }
# A plug-in project's configure reports nothing it could not find.
! grep -F "Could NOT find" "$work/configure.log" || fail "configure noise from the package"
module="$example/build/Greeter.kel"
[[ -f "$module" ]] || fail "Greeter.kel was not built"
# The tutorial's build is one a debugger can use (docs/debugging.md).
has_debug_info() { readelf -S "$1" | grep -Fq .debug_info; }
has_debug_info "$module" || fail "the tutorial's Greeter.kel has no debug information"
# Only the two entry points leave the module.
exports="$(nm -D --defined-only "$module" | awk '$2 == "T" {print $3}' | sort | tr '\n' ' ')"
[[ "$exports" == "GetPluginInfo RegisterKelvarin " ]] || fail "Greeter.kel exports: $exports"

readelf -d "$module" | grep -Fq '(NEEDED)             Shared library: [libulmKELrp.so.1]' ||
  fail "Greeter.kel does not name libulmKELrp.so.1"

# --- the Notes example, a plug-in with a window, built the same way
notes="$work/notes"
cp -r "$examples/notes" "$notes"
cmake -S "$notes" -B "$notes/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/notes.log" 2>&1 &&
  cmake --build "$notes/build" -j 2 >>"$work/notes.log" 2>&1 ||
  { cat "$work/notes.log"; fail "building the Notes example"; }
[[ -f "$notes/build/Notes.kel" ]] || fail "Notes.kel was not built"

# --- mistakes in a plug-in's build are reported when building, where they were made
# A call of kelvarin_add_plugin() that cannot be right stops the configure step.
while IFS='|' read -r call expected; do
  bad="$work/badcall"
  rm -rf "$bad" && mkdir -p "$bad" && cp "$source/examples/greeter/"{Greeter.cpp,Greeter.kfm} "$bad/"
  printf 'cmake_minimum_required(VERSION 3.25)\nproject(Bad LANGUAGES CXX)\n%s\n%s\n' \
    'find_package(Kelvarin CONFIG REQUIRED)' "$call" >"$bad/CMakeLists.txt"
  if cmake -S "$bad" -B "$bad/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$work/bad.log" 2>&1; then
    fail "configured: $call"
  fi
  tr -s ' \n' ' ' <"$work/bad.log" | grep -Fq "$expected" || { cat "$work/bad.log"; fail "$call: no \"$expected\""; }
done <<'CASES'
kelvarin_add_plugin(Bad SOURCE Greeter.cpp)|kelvarin_add_plugin(Bad): unknown argument(s) SOURCE;Greeter.cpp; expected SOURCES, FORMS, OWN_FRAMEWORK_COPY, NO_PLUGIN_INFO or NO_FORM_CHECK
kelvarin_add_plugin(Bad FORMS Greeter.kfm)|kelvarin_add_plugin(Bad): no SOURCES
kelvarin_add_plugin(Bad SOURCES Greeter.cpp FORMS Gretter.kfm)|kelvarin_add_plugin(Bad): form file "Gretter.kfm" not found
kelvarin_add_plugin(Bad SOURCES Greeter.cpp FORM Greeter.kfm)|kelvarin_add_plugin(Bad): "FORM" is not a keyword; expected SOURCES, FORMS, OWN_FRAMEWORK_COPY, NO_PLUGIN_INFO or NO_FORM_CHECK
kelvarin_add_plugin(Bad SOURCES Greeter.cpp Forms Greeter.kfm)|kelvarin_add_plugin(Bad): "Forms" is not a keyword
CASES

# A form that does not read against the module's classes fails the build at its
# line and column and leaves no module behind; a duplicate name only warns.
form="$example/Greeter.kfm"
cp "$form" "$work/Greeter.kfm.good"
while IFS='|' read -r from to expected; do
  sed "s/$from/$to/" "$work/Greeter.kfm.good" >"$form"
  if cmake --build "$example/build" -j 2 >"$work/form.log" 2>&1; then
    grep -Fq "$expected" "$work/form.log" || { cat "$work/form.log"; fail "$to: no \"$expected\""; }
    [[ "$expected" == *warning* ]] || fail "built with $to"
  else
    grep -Fq "$expected" "$work/form.log" || { cat "$work/form.log"; fail "$to: no \"$expected\""; }
    [[ ! -e "$module" ]] || fail "Greeter.kel left behind after: $to"
  fi
done <<'CASES'
DeepName = |DeepNmae = |Greeter.kfm:18:3: error: unknown property "DeepNmae" of TkelGreeter
TMenuItem|TMenuItme|Greeter.kfm:26:21: error: class "TMenuItme" not found
OnClick = GreetMenuClick|OnClick = Greet|Greeter.kfm:28:15: error: method "Greet" of TkelGreeter does not fit event "OnClick" of TMenuItem
Version = '1.00'|Version = 100|Greeter.kfm:25:13: error: property "Version" of TkelGreeter takes a string, not "100"
ParamName = 'Who'|ParamName = ''|Greeter.kfm:13:11: warning: Error $E013:  Plugin ParamName cannot be blank.
CASES
cp "$work/Greeter.kfm.good" "$form"
cmake --build "$example/build" -j 2 >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "rebuilding the example"; }

# Log lines without their time stamps.
entries() { sed -E 's/\r$//; s/^ [0-9]{4}\/[0-9]{2}\/[0-9]{2} [0-9:.]{12}  //' "$1"; }
expect_line() {
  grep -Fxq -- "$2" <(entries "$1") || { cat "$1"; fail "no line \"$2\" in $1"; }
}

# --- the example host: merged menu, command, menu click, unload; the captions
# as the menus show them. Without a display it shows no window and ends.
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY "$@"; }
(cd "$example/build" && nodisplay ./greeter-host ./Greeter.kel) >"$work/host.out" 2>&1 ||
  { cat "$work/host.out"; fail "greeter-host"; }
expected_host=$'Plugins\n  Say Hello\nPlugins'
[[ "$(cat "$work/host.out")" == "$expected_host" ]] ||
  { cat "$work/host.out"; fail "greeter-host printed an unexpected menu"; }
hostlog="$example/build/greeter-host.kel.log"
[[ -f "$hostlog" ]] || fail "greeter-host wrote no log"
expect_line "$hostlog" "Greeter              A  Hello, World!"
expect_line "$hostlog" "Greeter              A  Hello from the menu!"
expect_line "$hostlog" "MANAGER              A  Manager Closed Normally."
# A plug-in that does not load: the manager's reason on standard error.
status=0
(cd "$example/build" && nodisplay ./greeter-host ./Missing.kel) >"$work/host.out" 2>"$work/host.err" ||
  status=$?
[[ $status -eq 1 && ! -s "$work/host.out" ]] || { cat "$work/host.out"; fail "greeter-host Missing.kel: $status"; }
[[ "$(cat "$work/host.err")" == 'greeter-host: Loading ./Missing.kel: Error $E016:  Plugin not found: "./Missing.kel"' ]] ||
  { cat "$work/host.err"; fail "greeter-host did not tell the failed load"; }

# --- the same plug-in in a host without windows
(cd "$example/build" && env -u DISPLAY -u WAYLAND_DISPLAY ./greeter-service ./Greeter.kel Reader) \
  >"$work/service.out" 2>&1 || { cat "$work/service.out"; fail "greeter-service"; }
[[ "$(cat "$work/service.out")" == "Greet: done" ]] ||
  { cat "$work/service.out"; fail "greeter-service printed something else"; }
servicelog="$example/build/greeter-service.kel.log"
expect_line "$servicelog" "Greeter              A  Hello, Reader!"
expect_line "$servicelog" "MANAGER              A  Manager Closed Normally."

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
           "$work/missing.kel"; do
  status=0
  "$kelinfo" "$bad" >"$work/bad.out" 2>"$work/bad.err" || status=$?
  [[ $status -eq 1 ]] || fail "kelinfo $bad: exit code $status"
  [[ -s "$work/bad.err" && ! -s "$work/bad.out" ]] || fail "kelinfo $bad: no message"
  grep -Fq "kelinfo: $bad: " "$work/bad.err" || fail "kelinfo $bad: $(cat "$work/bad.err")"
done

# --- pkg-config: a host program built from the flags alone, which need no Qt or {fmt}
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
[[ "$(pkg-config --libs kelvarin)" != *Qt6* ]] || fail "pkg-config kelvarin passes Qt on"
printf '#include <kelvarin/manager.h>\nint main() { return 0; }\n' >"$work/pc.cpp"
# shellcheck disable=SC2046
c++ "$work/pc.cpp" -o "$work/pc" $(pkg-config --cflags --libs kelvarin) ||
  fail "building with pkg-config kelvarin"
"$work/pc" || fail "the pkg-config program did not run"
# A Qt Widgets program made a host: kelvarin-qt brings Qt's flags along.
cat >"$work/qthost.cpp" <<'CPP'
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <kelvarin/QtHost.h>
#include <kelvarin/manager.h>
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  QMenu* plugins = window.menuBar()->addMenu("&Plugins");
  kelvarin::QtHost host(&window);
  host.SetPluginsMenu(plugins);
  return host.Manager() != nullptr ? 0 : 1;
}
CPP
# shellcheck disable=SC2046
c++ -fPIC "$work/qthost.cpp" -o "$work/qthost" $(pkg-config --cflags --libs kelvarin-qt) ||
  fail "building with pkg-config kelvarin-qt"
QT_QPA_PLATFORM=offscreen "$work/qthost" || fail "the pkg-config Qt host did not run"

# --- the qt-host example from the installed package: with CMake (Kelvarin::Qt) and
# with its Makefile (pkg-config kelvarin-qt), nothing but the package and Qt given
qtexample="$work/qt-host"
cp -r "$examples/qt-host" "$qtexample"
cmake -S "$qtexample" -B "$qtexample/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/qt-host.log" 2>&1 &&
  cmake --build "$qtexample/build" >>"$work/qt-host.log" 2>&1 ||
  { cat "$work/qt-host.log"; fail "building qt-host with CMake"; }
# As its header says, the package's pkg-config folder given on make's command line.
env -u PKG_CONFIG_PATH make -C "$qtexample" PKG_CONFIG_PATH="$prefix/lib/pkgconfig" \
  >"$work/qt-host.log" 2>&1 || { cat "$work/qt-host.log"; fail "building qt-host with make"; }
# Started with Splash, which shows the start-up, and DoNothing; it ends by itself.
(cd "$qtexample/build" && ./qt-host --quit-after-start "$prefix/bin/Splash.kel" "$prefix/bin/DoNothing.kel") \
  >"$work/qt-host.out" 2>&1 || { cat "$work/qt-host.out"; fail "qt-host did not start and end"; }
qtlog="$qtexample/build/qt-host.kel.log"
for command in "Startup_Gauge\" of plugin \"Splash.kel\" with 2 arguments" \
               "Increment_Gauge\" of plugin \"Splash.kel\" with 1 argument" \
               "Hide_Splash\" of plugin \"Splash.kel\" with 0 arguments"; do
  expect_line "$qtlog" "MANAGER              C  Executing command \"$command..."
done
expect_line "$qtlog" "MANAGER              A  Plugin Unloaded: \"Do Nothing\" (\"$prefix/bin/DoNothing.kel\")."
expect_line "$qtlog" "MANAGER              A  Manager Closed Normally."
# Notes merges its entry into the Plugins menu as it loads; its draft folder is
# the test's own.
(cd "$qtexample/build" && rm -f qt-host.kel.log &&
  XDG_DATA_HOME="$work/data" ./qt-host --quit-after-start "$notes/build/Notes.kel") \
  >"$work/qt-host.out" 2>&1 || { cat "$work/qt-host.out"; fail "qt-host did not load Notes"; }
expect_line "$qtlog" "MANAGER              A  Plugin Loaded: \"kelNotes\" (\"$notes/build/Notes.kel\")."
expect_line "$qtlog" "Notes                A  Menu \"&Notes\" of plugin \"Notes.kel\" mergged."
expect_line "$qtlog" "MANAGER              A  Manager Closed Normally."
# A plug-in that does not load is told, and the program still ends normally.
status=0
(cd "$qtexample" && ./qt-host --quit-after-start ./missing.kel) >"$work/qt-host.out" 2>&1 || status=$?
[[ $status -eq 1 ]] || { cat "$work/qt-host.out"; fail "qt-host with a missing plug-in: exit status $status"; }
grep -Fxq 'qt-host: Loading ./missing.kel: Error $E016:  Plugin not found: "./missing.kel"' "$work/qt-host.out" ||
  { cat "$work/qt-host.out"; fail "qt-host did not tell the failed load"; }

# The files find their prefix however deep the library folder is (Debian's multiarch).
deep="$work/deep"
cmake -S "$source" -B "$deep/build" -G Ninja -DCMAKE_INSTALL_LIBDIR=lib/x86_64-linux-gnu \
      -DKELVARIN_BUILD_TESTS=OFF -DKELVARIN_BUILD_BENCH=OFF >"$work/deep.log" 2>&1 ||
  { cat "$work/deep.log"; fail "configuring with a multiarch library folder"; }
mkdir -p "$deep/prefix/lib/x86_64-linux-gnu/pkgconfig"
cp "$deep/build/kelvarin.pc" "$deep/build/kelvarin-plugin.pc" "$deep/build/kelvarin-qt.pc" \
   "$deep/prefix/lib/x86_64-linux-gnu/pkgconfig/"
for pc in kelvarin kelvarin-plugin kelvarin-qt; do
  got="$(PKG_CONFIG_PATH="$deep/prefix/lib/x86_64-linux-gnu/pkgconfig" pkg-config --variable=libdir $pc)"
  [[ "$(realpath -m "$got")" == "$deep/prefix/lib/x86_64-linux-gnu" ]] || fail "$pc.pc: libdir $got"
done

# --- without CMake: the example's Makefile builds the same plug-in and host
plain="$work/plain/greeter"
# Word for word as the tutorial says: the package's copy of the example, and the
# pkg-config folder on make's command line.
mkdir "$work/plain"
(cd "$work/plain" && cp -r "$prefix/share/kelvarin/examples/greeter" . &&
  env -u PKG_CONFIG_PATH make -C greeter PKG_CONFIG_PATH="$prefix/lib/pkgconfig") >"$work/make.log" 2>&1 ||
  { cat "$work/make.log"; fail "make in the example"; }
exports="$(nm -D --defined-only "$plain/Greeter.kel" | awk '$2 == "T" {print $3}' | sort | tr '\n' ' ')"
[[ "$exports" == "GetPluginInfo RegisterKelvarin " ]] || fail "Makefile's Greeter.kel exports: $exports"
has_debug_info "$plain/Greeter.kel" || fail "the Makefile's Greeter.kel has no debug information"
"$kelinfo" "$plain/Greeter.kel" | grep -Fxq "DeepName:          Greeter" || fail "kelinfo: Makefile's module"
(cd "$plain" && nodisplay ./greeter-host ./Greeter.kel) >"$work/plain.out" 2>&1 ||
  { cat "$work/plain.out"; fail "the Makefile's greeter-host"; }
[[ "$(cat "$work/plain.out")" == "$expected_host" ]] || { cat "$work/plain.out"; fail "Makefile's host menu"; }

# A plug-in compiled against the headers of another framework version says so,
# in its metadata and to a manager, which refuses it.
other="$work/other-headers"
cp -r "$prefix/include" "$other"
sed -i 's/1\.0\.01\.428/2.0.00.999/g' "$other/kelvarin/Framework.h"
make -C "$plain" clean >/dev/null
make -C "$plain" Greeter.kel CXXFLAGS="-O2 -I$other" >"$work/make.log" 2>&1 ||
  { cat "$work/make.log"; fail "make against other headers"; }
"$kelinfo" "$plain/Greeter.kel" | grep -Fxq "Framework version: 2.0.00.999" ||
  fail "kelinfo: the version of the other headers"
cp "$plain/Greeter.kel" "$prefix/bin/Greeter.kel"
(cd "$prefix/bin" && ./tavlo --script "$example/greeter.tavlo") >"$work/tavlo.out" 2>&1 || true
grep -Fq 'Plugin KEL Version mismatch (manager: "1.0.01.428" <> plugin: "2.0.00.999").' \
  <(entries "$log") || { cat "$log"; fail "a plug-in of other headers was not refused"; }
echo "install test passed"
