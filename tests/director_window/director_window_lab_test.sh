#!/usr/bin/env bash
# The Director window for real: the application on an Xvfb display inside the lab's desk, four
# simulated phones whose clocks run seconds apart, driven by xdotool. Everything is checked from
# outside the application: screen captures, the phones' logs and the settings file.
#
#   director_window_lab_test.sh LAB_SCRIPT KESTOVA SCREENSHOT_FOLDER
# Exits 77 (skipped) without root, the lab or the X tools.
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")
source_dir=$(readlink -f "$here/../..")

if [ "${1:-}" != "--in-lab" ]; then
  lab_script=$(readlink -f "$1")
  app=$(readlink -f "$2")
  shots=$3
  for tool in Xvfb xdotool ffmpeg; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
  done
  mkdir -p "$shots"
  exec "$lab_script" run --phones 4 -- bash "$0" --in-lab "$app" "$(readlink -f "$shots")"
fi

app=$2
shots=$3
work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
pids=()
phone_pids=()
cleanup() {
  for pid in "${pids[@]}" "${phone_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  [ -f "$work/app.log" ] && tail -20 "$work/app.log" >&2
  exit 1
}

check=("/usr/bin/python3" "$here/director_lab_check.py")

# Four phones, their clocks several seconds off the desk's and each other's.
offsets=(3200 -4100 6600 -2500)
mkdir -p "$work/frames"
for k in 1 2 3 4; do
  "$VELK_LAB_SCRIPT" exec "$VELK_LAB" "phone$k" -- /usr/bin/python3 "$source_dir/tests/sim/sim_camera.py" \
    --id "cam$k" --name "Phone $k" --address "10.77.0.1$k" --desk "$VELK_LAB_DESK" \
    --clock-offset-ms "${offsets[$((k - 1))]}" --frames-dir "$work/frames" --fps 15 \
    --log "$work/phone$k.jsonl" >"$work/phone$k.out" 2>&1 &
  phone_pids+=($!)
done

# The application's own folders, a library with one project, a display.
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_DATA_HOME/Velk" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"
echo '{"projects":[{"id":"7d0c6b8e-3a0f-4c52-9f3e-2b1a1c9e0d11","name":"Lab Show","revision":1,"takes":[]}]}' \
  >"$XDG_DATA_HOME/Velk/library.json"
Xvfb "$display" -screen 0 1400x900x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

"$app" >"$work/app.log" 2>&1 &
pids+=($!)
window=$(timeout 20 xdotool search --sync --name "Kestova Director" | head -1) || fail "no Director window"
xdotool windowmove "$window" 0 0
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
read -r wx wy < <(xdotool getwindowgeometry --shell "$window" | awk -F= '/^X=/{x=$2} /^Y=/{y=$2} END{print x, y}')

capture() { # name
  ffmpeg -loglevel error -y -f x11grab -video_size 1400x900 -i "$display" -frames:v 1 "$shots/$1.png"
  ffmpeg -loglevel error -y -f x11grab -video_size 1400x900 -i "$display" -frames:v 1 -f rawvideo -pix_fmt rgb24 "$work/$1.rgb"
}
click() { # x y, relative to the window's content
  xdotool mousemove --sync $((wx + $1)) $((wy + oy + $2)) click 1
  sleep 0.4
}

# The wall fills: four live tiles with frames.
sleep 6
capture live
oy=$("${check[@]}" offset "$work/live.rgb" "$wx" "$wy") || fail "window content not found"
"${check[@]}" tiles "$work/live.rgb" "$wx" $((wy + oy)) 1,1,1,1 || fail "four live tiles with frames"

# Choose the project, start the Director session, REC ALL.
click 1125 219
xdotool key --clearmodifiers Down Return
sleep 0.4
click 1137 288
click 1021 366
sleep 5
capture recording
"${check[@]}" starts 60 "$work"/phone{1,2,3,4}.jsonl || fail "every phone starts at the same true instant"

# Space cuts: Program shows the former Preview camera's frames.
xdotool key --clearmodifiers space
sleep 1
capture cut
"${check[@]}" program "$work/cut.rgb" "$wx" $((wy + oy)) || fail "the cut put a camera on Program"

# A phone killed mid-take, then Stop All on Ctrl+period: the others acknowledge.
kill -KILL "${phone_pids[3]}" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+period
sleep 2
"${check[@]}" stops "$work"/phone{1,2,3}.jsonl || fail "every running phone acknowledged Stop All"
# Slots are given in the order cameras were first heard; find the killed phone's.
slot=$("${check[@]}" slot "$XDG_CONFIG_HOME/Velk/kestova.conf" cam4) || fail "the killed phone has a slot"
pattern=1,1,1,1
pattern=$(echo "$pattern" | awk -F, -v s="$slot" 'BEGIN{OFS=","} {$(s + 1) = 0; print}')
sleep 7
capture offline
"${check[@]}" tiles "$work/offline.rgb" "$wx" $((wy + oy)) "$pattern" || fail "the killed phone's tile is offline"
# After 30 s without a report the camera leaves the list; its slot stays locked for it.
sleep 25
capture locked
"${check[@]}" tiles "$work/locked.rgb" "$wx" $((wy + oy)) "$pattern" || fail "the locked slot shows no frames"
[ "$("${check[@]}" slot "$XDG_CONFIG_HOME/Velk/kestova.conf" cam4)" = "$slot" ] || fail "the killed phone keeps its slot"
echo "director window lab test passed"
