# shellcheck shell=bash
# Sourced by the application's own test scripts, once their checks for what they need are through:
# a scratch folder `work` and the list `pids` of the processes the script starts, both gone when it
# ends (only processes still its own are signalled), and `fail`, which counts a failure and says it.
# The script ends with: [ "$failures" -eq 0 ] || exit 1

# shellcheck source=own_processes.sh
. "$(dirname "${BASH_SOURCE[0]}")/own_processes.sh"

work=$(mktemp -d)
pids=()
end_script_run() {
  end_own_processes 0 "${pids[@]}"
  wait 2>/dev/null
  rm -rf "$work"
}
trap end_script_run EXIT
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
