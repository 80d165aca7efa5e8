#!/usr/bin/env bash
# The real-window test: a virtual X display, the demo lab with two simulated phones, and the whole
# road through the windows driven by xdotool (tests/app/real_window_road.py), then the next run, as
# a second `scripts/run` would be: the same phones started again and the library the road left.
# Screenshots of each step stay in OUT/screenshots (the next run's in OUT/screenshots/again) as
# review material.
#
# Usage: real_window_test.sh [--window-manager NAME] [--screen-reader] APP OUT [SCREENSHOTS]
# With no window manager the road itself hands the keyboard to a window where a person would click;
# NAME (openbox, or mutter with XDG_CURRENT_DESKTOP=GNOME, tests/support/xvfb.sh) runs it under one.
# --screen-reader runs the road's keyboard rows once (no next run) as a screen reader's user does:
# a session bus of its own with at-spi2-core's accessibility bus and registry, an event listener
# and Orca with speech off where installed (tests/support/screen_reader.sh), Qt's bridge on.
# Exit status: 0 passed, 77 cannot run here (reason on stderr), anything else failed.
set -euo pipefail

readonly EXIT_SKIP=77
window_manager="" screen_reader=0
while [ $# -gt 0 ]; do
  case $1 in
    --window-manager) window_manager=$2; shift 2 ;;
    --screen-reader) screen_reader=1; shift ;;
    *) break ;;
  esac
done
app=${1:?usage: real_window_test.sh APP OUT}
out=${2:?usage: real_window_test.sh APP OUT}
shots=${3:-$out/screenshots}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

skip() {
  echo "real window: $* -- skipped" >&2
  exit "$EXIT_SKIP"
}
[ "$(id -u)" -eq 0 ] || skip "the network lab needs root"
for tool in Xvfb xdotool xwininfo ffmpeg xmllint python3; do
  command -v "$tool" >/dev/null 2>&1 || skip "'$tool' is not installed (run scripts/setup)"
done
[ -x "$app" ] || skip "$app is not built"
if [ "$screen_reader" = 1 ]; then
  for tool in dbus-daemon /usr/libexec/at-spi-bus-launcher /usr/libexec/at-spi2-registryd; do
    command -v "$tool" >/dev/null 2>&1 || skip "'$tool' is not installed (run scripts/setup)"
  done
fi

rm -rf "$out"
mkdir -p "$out"
# A display of its own (tests/support/xvfb.sh).
. "$root/tests/support/xvfb.sh"
xvfb="" wm_pid="" bus=""
. "$root/tests/support/screen_reader.sh"
stop() {
  local pid
  stop_screen_reader
  # The accessibility bus's launcher and the registry leave with the session bus.
  for pid in $wm_pid $bus $xvfb; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
trap stop EXIT
display=""
if start_xvfb "$out/xvfb.log" -screen 0 1920x1080x24; then
  xvfb=$xvfb_pid
  display=${xvfb_display#:}
fi
[ -n "$display" ] || { echo "real window: Xvfb did not start" >&2; exit 1; }
road_options=()
# mutter in a session bus of its own, as GNOME runs it, and the screen reader's session. The bus is
# on a path: the road runs in the lab's network namespace, which does not reach abstract sockets.
if [ "$window_manager" = mutter ] || [ "$screen_reader" = 1 ]; then
  mkdir -m 700 "$out/session"
  DISPLAY=":$display" XDG_RUNTIME_DIR="$out/session" dbus-daemon --session --nofork \
    --address="unix:path=$out/session/bus" --print-address=3 3>"$out/bus" >"$out/bus.log" 2>&1 &
  bus=$!
  for _ in $(seq 600); do grep -q unix: "$out/bus" 2>/dev/null && break; sleep 0.05; done
  export DBUS_SESSION_BUS_ADDRESS; DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$out/bus")
fi
if [ "$screen_reader" = 1 ]; then
  DISPLAY=":$display" XDG_RUNTIME_DIR="$out/session" start_screen_reader "$out" ||
    { cat "$out"/listener.log "$out"/orca.log >&2 2>/dev/null; echo "real window: the screen reader did not start" >&2; exit 1; }
  echo "real window: $screen_reader listens on the accessibility bus"
  road_options+=(--screen-reader)
fi
if [ -n "$window_manager" ]; then
  road_options+=(--window-manager "$window_manager")
  DISPLAY=":$display" start_window_manager "$window_manager" "$out/wm.log" ||
    { cat "$out/wm.log" >&2; echo "real window: the window manager $window_manager did not start" >&2; exit 1; }
fi

# The road, then the next run of the same phones (kept identity) with the library the road left.
status=0
runs=(first again)
[ "$screen_reader" = 0 ] || runs=(first)
for run in "${runs[@]}"; do
  road=(--app "$app" --display ":$display" --out "$out" --media "$root/build/demo-media"
        --dtd "$root/../shared/reference/fcpxml/FCPXMLv1_7.dtd" --shots "$shots" "${road_options[@]}")
  [ "$run" = first ] || road+=(--again --shots "$shots/again")
  "$root/scripts/lab-demo" --phones 2 --codes 123456,654321 --work "$out/lab-$run" --identity "$out/phones" -- \
    python3 "$root/tests/app/real_window_road.py" "${road[@]}" || status=$?
  [ "$status" -eq 0 ] || break
done
exit "$status"
