#!/usr/bin/env bash
# The real-window test: a virtual X display, the demo lab with two simulated phones, and the whole
# road through the windows driven by xdotool (tests/app/real_window_road.py). Screenshots of each
# step stay in OUT/screenshots as review material.
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
display=""
for n in $(seq 140 199); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || skip "no free display number"

Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill -TERM "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$display" ] || { echo "real window: Xvfb did not start" >&2; exit 1; }

status=0
"$root/scripts/lab-demo" --phones 2 --codes 123456,654321 --work "$out/lab" -- \
  python3 "$root/tests/app/real_window_road.py" --app "$app" --display ":$display" --out "$out" \
  --media "$root/build/demo-media" --dtd "$root/../shared/reference/fcpxml/FCPXMLv1_7.dtd" --shots "$shots" || status=$?
exit "$status"
