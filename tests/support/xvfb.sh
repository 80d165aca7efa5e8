# Sourced by the scripts that need an X server of their own.
#
# start_xvfb LOG [Xvfb options...] starts Xvfb and sets xvfb_display (":N") and xvfb_pid; returns 1
# when no server started. Xvfb's lock file in /tmp is what keeps two servers off one number (a
# server in a network namespace does not see another's socket and would replace its file), so it
# tries numbers until an Xvfb holds one and reports ready. The server never resets: one that resets
# whenever its last client leaves refuses a connection that arrives during the reset, and the last
# client to leave is often a tool that only asked whether the display answers (xdotool), or the
# accessibility bus's launcher.
start_xvfb() {
  local log=$1 ready n
  shift
  ready=$(mktemp)
  xvfb_display="" xvfb_pid=""
  for n in $(shuf -i 100-899 -n 30); do
    [ ! -e "/tmp/.X$n-lock" ] || continue
    : >"$ready"
    Xvfb ":$n" -displayfd 3 -nolisten tcp -noreset "$@" 3>"$ready" >>"$log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 300); do
      if [ -s "$ready" ]; then
        xvfb_display=":$n"
        rm -f "$ready"
        return 0
      fi
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  rm -f "$ready"
  return 1
}
