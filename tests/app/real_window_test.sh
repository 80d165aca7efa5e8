#!/usr/bin/env bash
# The real-window test: a virtual X display, the demo lab with two simulated phones, and the whole
# road through the windows driven by xdotool (tests/app/real_window_road.py), then the next run, as
# a second `scripts/run` would be: the same phones started again and the library the road left.
# Screenshots of each step stay in OUT/screenshots (the next run's in OUT/screenshots/again) as
# review material.
#
# Usage: real_window_test.sh APP OUT [SCREENSHOTS]
# Exit status: 0 passed, 77 cannot run here (reason on stderr), anything else failed.
set -euo pipefail

readonly EXIT_SKIP=77
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

rm -rf "$out"
mkdir -p "$out"
# A display of its own (tests/support/xvfb.sh).
. "$root/tests/support/xvfb.sh"
xvfb=""
trap '[ -z "$xvfb" ] || { kill -TERM "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; }' EXIT
display=""
if start_xvfb "$out/xvfb.log" -screen 0 1920x1080x24; then
  xvfb=$xvfb_pid
  display=${xvfb_display#:}
fi
[ -n "$display" ] || { echo "real window: Xvfb did not start" >&2; exit 1; }

# The road, then the next run of the same phones (kept identity) with the library the road left.
status=0
for run in first again; do
  road=(--app "$app" --display ":$display" --out "$out" --media "$root/build/demo-media"
        --dtd "$root/../shared/reference/fcpxml/FCPXMLv1_7.dtd" --shots "$shots")
  [ "$run" = first ] || road+=(--again --shots "$shots/again")
  "$root/scripts/lab-demo" --phones 2 --codes 123456,654321 --work "$out/lab-$run" --identity "$out/phones" -- \
    python3 "$root/tests/app/real_window_road.py" "${road[@]}" || status=$?
  [ "$status" -eq 0 ] || break
done
exit "$status"
