# shellcheck shell=bash
# Sourced by the scripts that run the README's commands: each step's output goes
# to a log file, and the terminal gets the step's summary only.
#
#   STEP_SUMMARY=SED_SCRIPT run_step NAME LOGFILE COMMAND [ARGS...]
#
# The lines `sed -n SED_SCRIPT` prints from the output are the summary, shown as
# they come (a demo's "close the window" shows while it waits); without any,
# "NAME: done". A failing step shows its output (all of it under CI, where the
# build folder does not outlive the run, else its end) and ends the script with
# the step's exit status. step_logs lists the logs written so far.
STEP_LOGS=()

run_step() {
  local name="$1" log="$2"
  shift 2
  mkdir -p "$(dirname "$log")"
  STEP_LOGS+=("$log")
  local summary="${STEP_SUMMARY:-}" status
  set +e
  "$@" 2>&1 | tee "$log" | sed -u -n "${summary:-d}"
  status="${PIPESTATUS[0]}"
  set -e
  if [[ "$status" -ne 0 ]]; then
    echo "$name: FAILED (exit status $status)" >&2
    if [[ -n "${CI:-}" ]]; then
      cat "$log" >&2
    else
      echo "--- the last 60 lines of $log:" >&2
      tail -n 60 "$log" >&2
      echo "--- the whole output: $log" >&2
    fi
    failure_digest "$log" >&2
    exit "$status"
  fi
  [[ -n "$summary" && -n "$(sed -n "$summary" "$log")" ]] || echo "$name: done"
}

# A long run's cause sits far from its end: gather the lines that say where
# each failing case went wrong (GoogleTest's failures, sanitizer reports,
# crashes, CTest's list of failures) so that the output's last screen shows them.
failure_digest() {
  local pattern=': Failure$|^\[  FAILED  \]|^==[0-9]+==(ERROR|WARNING)|runtime error:|Tracer caught|terminate called|Segmentation fault|Aborted|\*\*\*(Failed|Exception|Timeout)|Test timeout'
  grep -q -E "$pattern" "$1" || return 0
  echo "--- where it failed ($1):"
  grep -n -E -A8 "$pattern" "$1" | tail -n 200
}

step_logs() {
  echo "Logs:"
  printf '  %s\n' "${STEP_LOGS[@]}"
}
