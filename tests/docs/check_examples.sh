#!/usr/bin/env bash
# Checks the examples in docs/*.md that a comment line marks, the block right
# after it being the example:
#   <!-- check: form -->                 a stored form that reads
#   <!-- check: form-error -->           one that does not; the next block is
#                                        the reader's message
#   <!-- check: tavlo-script [exit=N] --> a tavlo script, run in a folder with
#                                        tavlo, Splash.kel and DoNothing.kel; the
#                                        next block is its output (standard output
#                                        and error, CRs dropped), N its exit
#                                        status (0)
#   <!-- check: dictionary -->           a message dictionary, in place for the
#                                        next script (KELVARIN_CONFIG_DIR=.)
#   <!-- check: tavlo-log -->            lines the last script's log holds,
#                                        without time stamps
#   <!-- check: excerpt PATH -->         a piece of the source file PATH, as is
#   <!-- check: cpp -->                  a C++ source file that compiles against
#                                        the framework's headers
#   <!-- check: qt-cpp -->               one that compiles against Kelvarin::Qt:
#                                        QtHost's, the framework's and Qt's headers
#
# The public headers mark their examples the same way, inside a comment: a line
# "// check: cpp" (or qt-cpp), then the example as comment lines indented by three
# spaces ("//   ..."; "//" alone for a blank line). It is compiled after an
# include of its header.
#
#   check_examples.sh SOURCE_DIR FORM_CHECK TAVLO SPLASH DONOTHING LIBRARY_DIR CXX QT_FLAGS
# QT_FLAGS is a file of the compile flags of a program that links Kelvarin::Qt.
set -euo pipefail
source="$1" formcheck="$2" tavlo="$3" cxx="$7"
mapfile -t qtflags <"$8"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0 checked=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# A folder laid out as an installed package: the modules in bin find ../lib.
bin="$work/bin"
mkdir -p "$bin" "$work/runtime"
chmod 700 "$work/runtime"
ln -s "$6" "$work/lib"
cp "$tavlo" "$bin/tavlo"
cp "$4" "$bin/Splash.kel"
cp "$5" "$bin/DoNothing.kel"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime"
log="" config=""

# Compiles a C++ example (kind cpp or qt-cpp); the compiler's complaint in $work/out.
compile() {
  local flags=(-I"$source/toolkit/include" -I"$source/framework/include")
  [[ "$1" == qt-cpp ]] && flags=("${qtflags[@]}")
  "$cxx" -std=c++20 -fsyntax-only -Wall -Wextra -Werror "${flags[@]}" -x c++ "$2" 2>"$work/out"
}

for page in "$source"/docs/*.md; do
  name="docs/$(basename "$page")"
  blocks="$work/blocks"
  rm -rf "$blocks" && mkdir "$blocks"
  # N.kind, N.body and (for kinds that expect something) N.expect per example.
  awk -v out="$blocks" '
    /^<!-- check: .* -->$/ {
      n++; kind = $0; sub(/^<!-- check: /, "", kind); sub(/ -->$/, "", kind)
      print kind > (out "/" n ".kind"); close(out "/" n ".kind")
      want = "body"; next }
    /^```/ {
      if (fenced) { fenced = 0
        if (target != "") { close(target); target = ""
          if (want == "body" && kind ~ /^(form-error|tavlo-script)/) want = "expect"; else want = "" }
      } else { fenced = 1
        if (want != "") { target = out "/" n "." want; printf "" > target } }
      next }
    fenced && target != "" { print > target }' "$page"

  for kindfile in "$blocks"/*.kind; do
    [[ -e "$kindfile" ]] || break
    n="$(basename "$kindfile" .kind)"
    read -r kind arg <"$kindfile"
    body="$blocks/$n.body" expect="$blocks/$n.expect"
    where="$name example $n ($kind)"
    checked=$((checked + 1))
    [[ -f "$body" ]] || { fail "$where: no block after the mark"; continue; }
    case "$kind" in
    form)
      "$formcheck" "$body" >"$work/out" || fail "$where: $(cat "$work/out")" ;;
    form-error)
      status=0
      "$formcheck" "$body" >"$work/out" || status=$?
      [[ $status -eq 1 ]] || fail "$where: read without error"
      diff -u "$expect" "$work/out" >&2 || fail "$where: another message" ;;
    tavlo-script)
      want=0
      [[ "$arg" =~ ^exit=([0-9]+)$ ]] && want="${BASH_REMATCH[1]}"
      cp "$body" "$bin/example.tavlo"
      rm -f "$bin/tavlo.kel.log"
      status=0
      (cd "$bin" && KELVARIN_CONFIG_DIR="$config" timeout 60 ./tavlo --script example.tavlo) \
        >"$work/raw" 2>&1 || status=$?
      tr -d '\r' <"$work/raw" >"$work/out"
      rm -f "$bin/ulmKELrp.ini" && config=""
      [[ $status -eq $want ]] || fail "$where: exit status $status, not $want"
      diff -u "$expect" "$work/out" >&2 || fail "$where: other output"
      log="$bin/tavlo.kel.log" ;;
    dictionary)
      cp "$body" "$bin/ulmKELrp.ini" && config=. ;;
    tavlo-log)
      [[ -f "$log" ]] || { fail "$where: no log of an earlier script"; continue; }
      sed -E 's/\r$//; s/^ [0-9]{4}\/[0-9]{2}\/[0-9]{2} [0-9:.]{12}  //' "$log" >"$work/entries"
      while IFS= read -r line; do
        grep -Fxq -- "$line" "$work/entries" || fail "$where: the log has no line \"$line\""
      done <"$body" ;;
    cpp | qt-cpp)
      compile "$kind" "$body" || fail "$where: $(cat "$work/out")" ;;
    excerpt)
      [[ "$(cat "$source/$arg")" == *"$(cat "$body")"* ]] || fail "$where: not in $arg" ;;
    *)
      fail "$where: unknown kind" ;;
    esac
  done
done

for header in "$source"/{toolkit,framework,qthost}/include/*/*.h; do
  name="${header#"$source"/}"
  n=0
  while IFS= read -r kind; do
    n=$((n + 1)) checked=$((checked + 1))
    body="$work/header-example.cpp"
    { echo "#include \"$header\""
      awk -v want="$n" '
        /^[ \t]*\/\/ check: (cpp|qt-cpp)$/ { seen++; inside = (seen == want); next }
        inside && /^[ \t]*\/\/$/ { print ""; next }
        inside && /^[ \t]*\/\/   / { sub(/^[ \t]*\/\/   /, ""); print; next }
        { inside = 0 }' "$header"
    } >"$body"
    compile "$kind" "$body" || fail "$name example $n ($kind): $(cat "$work/out")"
  done < <(sed -nE 's/^[[:space:]]*\/\/ check: (cpp|qt-cpp)$/\1/p' "$header")
done

echo "$((checked - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
