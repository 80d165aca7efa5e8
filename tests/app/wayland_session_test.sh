#!/usr/bin/env bash
# The application on a Wayland session that also offers X11 (a headless weston with Xwayland), in
# a network namespace of its own: named no platform, it runs on X11 (its Director window is on the
# Xwayland display, and it never speaks to the Wayland compositor); with QT_QPA_PLATFORM=wayland,
# or -platform wayland on its command line, it runs on Wayland (its Director window is a Wayland
# toplevel, as its own protocol log tells, and none is on the X display).
#
#   wayland_session_test.sh APP
# Exits 77 (skipped) without root or the compositor and Qt's Wayland platform.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
app=$(readlink -f "${1:?usage: wayland_session_test.sh APP}")
limit=15

skip() {
  echo "wayland session: $* -- skipped" >&2
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "a network namespace of its own needs root"
for tool in weston Xwayland xdotool unshare; do
  command -v "$tool" >/dev/null || skip "$tool is missing (run scripts/setup)"
done
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 || skip "Qt's Wayland platform is missing (run scripts/setup)"
[ -x "$app" ] || skip "$app is not built"

# shellcheck source=../support/script_run.sh
. "$source_dir/tests/support/script_run.sh"

mkdir -p "$work/run"
chmod 700 "$work/run"
socket="wayland-kestova-$$"
XDG_RUNTIME_DIR="$work/run" weston --backend=headless-backend.so --xwayland --socket="$socket" --idle-time=0 \
  >"$work/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do grep -q "xserver listening on display" "$work/weston.log" && break; sleep 0.05; done
x_display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log" | head -1)
[ -n "$x_display" ] || { echo "FAILED: weston did not start with Xwayland" >&2; cat "$work/weston.log" >&2; exit 1; }

# One start: waits until the Director window shows on the X display or as a Wayland toplevel, then
# ends the application. Prints "x11", "wayland" or "none".
run_once() { # NAME [VARIABLE=VALUE...] [-- ARGUMENT...]
  local name=$1 variables=() arguments=() pid where=none
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do variables+=("$1"); shift; done
  [ $# -gt 0 ] && shift && arguments=("$@")
  mkdir -p "$work/$name/home"
  unshare --net -- env -u QT_QPA_PLATFORM HOME="$work/$name/home" XDG_RUNTIME_DIR="$work/run" \
    XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="$socket" DISPLAY="$x_display" WAYLAND_DEBUG=1 "${variables[@]}" \
    "$app" "${arguments[@]}" >"$work/$name/app.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  local started=$SECONDS
  while [ $((SECONDS - started)) -lt "$limit" ] && kill -0 "$pid" 2>/dev/null; do
    if DISPLAY="$x_display" xdotool search --onlyvisible --pid "$pid" --name "Kestova Director" >/dev/null 2>&1; then
      where=x11
      break
    fi
    if grep -q 'xdg_toplevel@[0-9]*\.set_title("Kestova Director")' "$work/$name/app.log"; then
      where=wayland
      break
    fi
    sleep 0.05
  done
  # It is on one of the two only.
  if [ "$where" = x11 ] && grep -q 'wl_display@1\.get_registry' "$work/$name/app.log"; then where="x11+wayland"; fi
  if [ "$where" = wayland ] && DISPLAY="$x_display" xdotool search --pid "$pid" --name "Kestova" >/dev/null 2>&1; then
    where="wayland+x11"
  fi
  kill -TERM "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  echo "$where"
}

check() { # NAME EXPECTED [VARIABLE=VALUE...] [-- ARGUMENT...]
  local name=$1 expected=$2 where
  shift 2
  where=$(run_once "$name" "$@")
  echo "$name: the Director window is on ${where}"
  [ "$where" = "$expected" ] || { fail "$name: expected it on $expected"; tail -5 "$work/$name/app.log" >&2; }
}

check no-platform-named x11
check wayland-named-by-variable wayland QT_QPA_PLATFORM=wayland
check wayland-named-on-the-command-line wayland -- -platform wayland

[ "$failures" -eq 0 ] || exit 1
echo "wayland session: passed"
