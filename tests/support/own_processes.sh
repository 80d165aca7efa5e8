# shellcheck shell=bash
# Sourced by test and lab scripts. A child that has ended is soon reaped and its process id given to
# some other program, so a script signals only processes that are still its own children.

# True while process PID is a child of this script: is_own_process PID
is_own_process() {
  [ "$(ps -o ppid= -p "$1" 2>/dev/null | tr -d ' ')" = "$$" ]
}

# Ends those of PID... that are still this script's own: TERM, then KILL for any still there GRACE
# seconds later: end_own_processes GRACE PID...
end_own_processes() {
  local grace=$1 pid deadline
  shift
  for pid in "$@"; do
    if is_own_process "$pid"; then kill -TERM "$pid" 2>/dev/null || true; fi
  done
  deadline=$((SECONDS + grace))
  for pid in "$@"; do
    while is_own_process "$pid" && [[ $(ps -o stat= -p "$pid" 2>/dev/null) != Z* ]] && [ "$SECONDS" -lt "$deadline" ]; do
      sleep 0.05
    done
    if is_own_process "$pid"; then kill -KILL "$pid" 2>/dev/null || true; fi
  done
  return 0
}
