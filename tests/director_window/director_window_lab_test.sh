#!/usr/bin/env bash
# The Director window for real: the application on an Xvfb display inside the lab's desk, four
# simulated phones whose clocks run seconds apart, driven by xdotool under a window manager.
# Everything is checked from outside the application: screen captures, the widget map, the phones'
# logs, the settings file and the datagrams a packet capture on the desk's lab interface saw.
#
#   director_window_lab_test.sh [--window-manager NAME] [--up-to-stop-all] [--screen-reader] LAB_SCRIPT KESTOVA SCREENSHOT_FOLDER
# NAME is openbox (the default) or mutter (GNOME's, in its X11 mode, with XDG_CURRENT_DESKTOP=GNOME);
# one that does not start fails the test (tests/support/xvfb.sh). --up-to-stop-all ends with Stop All
# of the four phones: no phone killed mid-take, no offline or locked slot. Either way it ends with
# Ctrl+Q while the session runs, which ends the application cleanly. --screen-reader runs it in a
# screen reader's session: a session bus with at-spi2-core's accessibility bus and registry, an
# event listener and Orca with speech off where installed (tests/support/screen_reader.sh), Qt's
# accessibility bridge on. Exits 77 (skipped) without root, the lab or the X tools.
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")
source_dir=$(readlink -f "$here/../..")

if [ "${1:-}" != "--in-lab" ]; then
  window_manager=openbox whole=1 screen_reader=0
  while [ $# -gt 3 ]; do
    case $1 in
      --window-manager) window_manager=$2; shift 2 ;;
      --up-to-stop-all) whole=0; shift ;;
      --screen-reader) screen_reader=1; shift ;;
      *) echo "unknown option $1" >&2; exit 2 ;;
    esac
  done
  lab_script=$(readlink -f "$1")
  app=$(readlink -f "$2")
  shots=$3
  for tool in Xvfb xdotool ffmpeg tcpdump; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
  done
  mkdir -p "$shots"
  exec "$lab_script" run --phones 4 -- bash "$0" --in-lab "$app" "$(readlink -f "$shots")" "$window_manager" "$whole" "$screen_reader"
fi

app=$2
shots=$3
window_manager=$4
whole=$5
screen_reader=$6
work=$(mktemp -d)
pids=()
phone_pids=()
tcpdump_pid=""
# shellcheck source=../support/own_processes.sh
. "$source_dir/tests/support/own_processes.sh"
# shellcheck source=../support/screen_reader.sh
. "$source_dir/tests/support/screen_reader.sh"
cleanup() {
  stop_screen_reader
  end_own_processes 10 "${pids[@]}" "${phone_pids[@]}" $tcpdump_pid
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  # What the screen and the widget map showed, beside the screenshots.
  if [ -n "${DISPLAY:-}" ]; then capture failure >/dev/null 2>&1 || true; fi
  [ -f "$work/widgets.json" ] && cp "$work/widgets.json" "$shots/widgets-at-failure.json"
  [ -f "$work/last-check" ] && cat "$work/last-check" >&2
  [ -f "$work/app.log" ] && tail -20 "$work/app.log" >&2
  exit 1
}

# Runs a check every half second until it passes or SECONDS have gone by: a loaded machine (CI
# runs the suite in parallel on two cores) only makes the wait longer, never the test flaky.
wait_until() { # SECONDS COMMAND...
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >"$work/last-check" 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}

check=("/usr/bin/python3" "$here/director_lab_check.py")

# Every datagram of the control port on the desk's lab interface (this script runs in the desk's
# namespace, never the host's), each handed on and written as it arrives, so none is still held when
# tcpdump is stopped. Root keeps the private work folder writable.
[ -n "${VELK_LAB:-}" ] && [ "$(ip netns identify $$)" = "$VELK_LAB-desk" ] || fail "not in the lab's desk"
tcpdump -i eth0 -n -U --immediate-mode -s 0 -Z root -w "$work/desk.pcap" udp port 45454 >"$work/tcpdump.out" 2>&1 &
tcpdump_pid=$!
capturing() { grep -q "listening on" "$work/tcpdump.out"; }
wait_until 30 capturing || fail "tcpdump does not capture on the lab interface"

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
# A display of its own (tests/support/xvfb.sh).
. "$source_dir/tests/support/xvfb.sh"
display=""
if start_xvfb "$work/xvfb.log" -screen 0 1400x900x24; then
  xvfb=$xvfb_pid
  display=$xvfb_display
fi
[ -n "$display" ] || fail "no X display could be started"
pids+=($xvfb)
export DISPLAY=$display
wait_until 30 xdotool getmouselocation || fail "no X display $display"
# The window manager, mutter in a session bus of its own, as GNOME runs it, and the screen reader's
# session (the accessibility bus's launcher and the registry leave with the session bus).
if [ "$window_manager" = mutter ] || [ "$screen_reader" = 1 ]; then
  dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >"$work/bus.log" 2>&1 &
  pids+=($!)
  bus_up() { grep -q unix: "$work/bus"; }
  wait_until 30 bus_up || fail "no session bus"
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
  export DBUS_SESSION_BUS_ADDRESS
fi
[ "$window_manager" != mutter ] || export XDG_CURRENT_DESKTOP=GNOME
if [ "$screen_reader" = 1 ]; then
  start_screen_reader "$work" || { cat "$work"/listener.log "$work"/orca.log >&2 2>/dev/null; fail "the screen reader did not start"; }
  echo "$screen_reader listens on the accessibility bus"
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
fi
start_window_manager "$window_manager" "$work/wm.log" || { cat "$work/wm.log" >&2; fail "the window manager $window_manager did not start"; }
pids+=($wm_pid)

# Where each widget is comes from the widget map the application keeps when asked.
map="$work/widgets.json"
VELK_WIDGET_MAP="$map" "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
window=$(timeout 60 xdotool search --sync --name "Kestova Director" | head -1) || fail "no Director window"
xdotool windowmove "$window" 0 0
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"

capture() { # name
  ffmpeg -loglevel error -y -f x11grab -video_size 1400x900 -i "$display" -frames:v 1 "$shots/$1.png"
  ffmpeg -loglevel error -y -f x11grab -video_size 1400x900 -i "$display" -frames:v 1 -f rawvideo -pix_fmt rgb24 "$work/$1.rgb"
}
# Captures the screen until its check passes (the capture is the one the check judged).
capture_until() { # SECONDS NAME CHECK...
  local limit=$1 name=$2
  shift 2
  capture_and_check() { capture "$name" && "${check[@]}" "$@"; }
  wait_until "$limit" capture_and_check "$@"
}
click() { # name|text VALUE [name|text VALUE]
  local x y
  read -r x y < <("${check[@]}" centre "$map" "$@") || fail "no widget $*"
  xdotool mousemove --sync "$x" "$y" click 1
}
enabled() { "${check[@]}" enabled "$map" "$@"; }
shown() { "${check[@]}" centre "$map" "$@"; }
# After a click that moved the keyboard without the user choosing a control: once the application
# has handled it (its widget map written twice since), some control has the keyboard and it is not
# one that starts or stops recording; then Return is typed there, and the time noted, for the
# capture to tell what it sent.
returns=()
return_after() { # WHAT
  "${check[@]}" rewritten "$map" 2 >"$work/last-check" 2>&1 || fail "the widget map is no longer written"
  "${check[@]}" keyboard "$map" "$1 under $window_manager" || fail "the keyboard after $1"
  returns+=("$1=$(date +%s.%N)")
  xdotool key --clearmodifiers Return
  "${check[@]}" rewritten "$map" 2 >"$work/last-check" 2>&1 || fail "the widget map is no longer written"
}

# Types KEY until NAME has the keyboard (judged once the application has written its widget map
# twice since each key), at most 30 times; fails with WHAT otherwise.
key_to() { # KEY NAME WHAT
  for _ in $(seq 30); do
    "${check[@]}" focused "$map" "$2" >"$work/last-check" 2>&1 && return
    xdotool key --clearmodifiers "$1"
    "${check[@]}" rewritten "$map" 2 >"$work/last-check" 2>&1 || fail "the widget map is no longer written"
  done
  "${check[@]}" focused "$map" "$2" >"$work/last-check" 2>&1 || fail "$3"
}

# With Orca, what a command did is spoken: runs the command, then waits for Orca to say TEXT within
# SECONDS of it (the delay printed); without Orca it only runs the command.
says() { # TEXT SECONDS COMMAND...
  local text=$1 seconds=$2 mark sent
  shift 2
  if [ "$screen_reader" != Orca ]; then "$@"; return; fi
  mark=$(wc -l <"$work/orca-debug.log")
  sent=$(date +%s.%N)
  "$@"
  wait_until 10 "${check[@]}" spoken "$work/orca-debug.log" "$mark" "$sent" "$text" "$seconds" ||
    fail "Orca did not say '$text' within $seconds s"
  cat "$work/last-check"
}

# The wall fills: four live tiles with frames.
wait_until 60 shown name wallCell1 || fail "no camera wall in the widget map"
capture_until 90 live tiles "$map" "$work/live.rgb" 1,1,1,1 || fail "four live tiles with frames"

# Choose the project, start the Director session, REC ALL. Each button is pressed once it is
# enabled, and the next step waits for what the press changes.
click name projectPicker
xdotool key --clearmodifiers Down Return
# The list closes once the keys are handled (a screen reader's bridge hands them on late), and the
# keyboard is back on the picker: a click while the list is open would only close it.
wait_until 30 "${check[@]}" focused "$map" projectPicker || fail "Return closes the project list"
wait_until 30 enabled text "Start Director Session" || fail "choosing the project enables Start"
# Start Director Session by mouse greys out the project box, which has the keyboard.
click text "Start Director Session"
wait_until 30 shown text "Session Running" || fail "the Director session runs"
return_after "Start Director Session"
"${check[@]}" absent "$map" SYNCHRONIZING PREPARING STARTING RECORDING >"$work/last-check" 2>&1 ||
  fail "Return after Start Director Session began a recording"
# A click on the Edits tab from the Take field hides the field.
click name takeField
click name inspectorTabs.tab text Edits
hidden() { ! shown "$@"; }
wait_until 30 hidden name takeField || fail "the Edits tab hides the Session page"
return_after "the Edits tab from the Take field"
click name inspectorTabs.tab text Session
wait_until 30 shown name takeField || fail "the Session tab shows the take field"
# The keyboard alone chooses Preview: from the take field, Shift+Tab passes Project, the inspector's
# tabs, Marker, the fade duration, FADE, CUT and the fourth tile to the third; Return selects it.
click name takeField
for _ in 1 2 3 4 5 6 7 8; do xdotool key --clearmodifiers shift+Tab; done
capture_until 30 keyboard-focus focus-ring "$map" "$work/keyboard-focus.rgb" wallCell3 ||
  fail "Shift+Tab reaches the third tile and shows its focus"
xdotool key --clearmodifiers Return
capture_until 30 keyboard-preview outline "$map" "$work/keyboard-preview.rgb" wallCell3 green ||
  fail "Return on the focused tile makes its camera Preview"
wait_until 30 enabled text "REC ALL" || fail "REC ALL is enabled"
rec_all_at=$(date +%s.%N)
says "Recording confirmed by every camera." 20 click text "REC ALL"
recording_everywhere() { "${check[@]}" started "$work"/phone{1,2,3,4}.jsonl; }
wait_until 60 recording_everywhere || fail "every phone starts recording"
wait_until 30 shown text RECORDING || fail "the header shows RECORDING"
capture recording
# REC ALL by mouse greys it out.
return_after "REC ALL"
{ "${check[@]}" absent "$map" STOPPING && shown text RECORDING; } >"$work/last-check" 2>&1 ||
  fail "Return after REC ALL stopped the recording"
"${check[@]}" starts 60 "$work"/phone{1,2,3,4}.jsonl || fail "every phone starts at the same true instant"
# A tile, CUT and FADE take no keyboard on a click, nor did REC ALL.
taps() { click name wallCell2; click text CUT; click text FADE; }
taps
return_after "REC ALL then a tile and CUT and FADE"

# Space cuts: Program shows the former Preview camera's frames.
wait_until 30 enabled text CUT || fail "CUT is enabled in the running session"
xdotool key --clearmodifiers space
capture_until 30 cut program "$map" "$work/cut.rgb" || fail "the cut put a camera on Program"

# A phone killed mid-take, then Stop All on Ctrl+period: the others acknowledge.
running=(1 2 3 4)
if [ "$whole" = 1 ]; then
  kill -KILL "${phone_pids[3]}" 2>/dev/null || true
  running=(1 2 3)
fi
stop_all_at=$(date +%s.%N)
says "Stop All requested" 1 xdotool key --clearmodifiers ctrl+period
running_logs=() running_addresses=()
for k in "${running[@]}"; do
  running_logs+=("$work/phone$k.jsonl")
  running_addresses+=("10.77.0.1$k")
done
stopped_everywhere() { "${check[@]}" stops "${running_logs[@]}"; }
wait_until 30 stopped_everywhere || fail "every running phone acknowledged Stop All"
# STOP ALL by mouse (the phones are told to stop again), then a tile, CUT and FADE: STOP ALL took no
# keyboard, and a Return minutes later stops nothing.
click text "STOP ALL"
taps
return_after "STOP ALL then a tile and CUT and FADE"
if [ "$screen_reader" = Orca ]; then
  # The closed fade duration box says its new value as the arrows and a typed digit change it, and
  # REC ALL on the take already prepared says why it is refused (Orca speaks each).
  click name takeField
  key_to shift+Tab fadeDuration "Shift+Tab reaches the fade duration"
  says "1.5 s" 1 xdotool key --clearmodifiers Down
  says "1.0 s" 1 xdotool key --clearmodifiers Up
  says "2.0 s" 1 xdotool key --clearmodifiers 2
  # So does the Camera page's closed preview policy box.
  click name inspectorTabs.tab text Camera
  key_to Tab policyPicker "Tab reaches the preview policy"
  says "5 GHz Performance" 1 xdotool key --clearmodifiers Down
  says "Auto" 1 xdotool key --clearmodifiers Up
  click name inspectorTabs.tab text Session
  wait_until 30 enabled text "REC ALL" || fail "REC ALL is enabled after the stop"
  says "Use a new take ID; this take was already prepared in this session." 2 click text "REC ALL"
fi
if [ "$whole" = 1 ]; then
  # Slots are given in the order cameras were first heard; find the killed phone's.
  slot=$("${check[@]}" slot "$XDG_CONFIG_HOME/Velk/kestova.conf" cam4) || fail "the killed phone has a slot"
  pattern=1,1,1,1
  pattern=$(echo "$pattern" | awk -F, -v s="$slot" 'BEGIN{OFS=","} {$(s + 1) = 0; print}')
  # Offline once unheard for 6.5 s: the header then counts three cameras (a tile without frames alone
  # could still be an online camera whose preview failed).
  wait_until 40 shown text "3 CAMERAS" || fail "the killed phone goes offline"
  capture_until 30 offline tiles "$map" "$work/offline.rgb" "$pattern" || fail "the killed phone's tile is offline"
  # After 30 s without a report the camera leaves the list; its slot stays locked for it.
  locked_cell=wallCell$((slot + 1))
  wait_until 60 "${check[@]}" described "$map" "$locked_cell" "Offline • slot $((slot + 1)) locked" ||
    fail "the killed phone leaves the list and its cell shows the locked slot"
  capture_until 30 locked tiles "$map" "$work/locked.rgb" "$pattern" || fail "the locked slot shows no frames"
  [ "$("${check[@]}" slot "$XDG_CONFIG_HOME/Velk/kestova.conf" cam4)" = "$slot" ] || fail "the killed phone keeps its slot"

  # The keyboard releases the locked slot: Tab until the cell shows the focus, then the Menu key
  # opens its menu and Return chooses "Release Camera Slot".
  click name takeField
  key_to Tab "$locked_cell" "Tab reaches the locked cell"
  capture_until 30 keyboard-locked focus-ring "$map" "$work/keyboard-locked.rgb" "$locked_cell" ||
    fail "the locked cell shows its focus"
  xdotool key --clearmodifiers Menu
  wait_until 30 "${check[@]}" menu "$map" || fail "the Menu key opens the locked cell's menu"
  capture keyboard-locked-menu
  xdotool key --clearmodifiers Return
  released() { ! "${check[@]}" slot "$XDG_CONFIG_HOME/Velk/kestova.conf" cam4; }
  wait_until 30 released || fail "the Menu key and Return release the locked slot"
fi

# The capture ends before it is judged: tcpdump writes out what it holds and exits.
kill -TERM "$tcpdump_pid"
tcpdump_done() { ! kill -0 "$tcpdump_pid" 2>/dev/null; }
wait_until 30 tcpdump_done || fail "tcpdump does not stop"
wait "$tcpdump_pid" || true
tcpdump_pid=""
cat "$work/tcpdump.out"
cp "$work/desk.pcap" "$shots/desk.pcap"
returned=$(IFS=,; echo "${returns[*]}")
"${check[@]}" datagrams "$work/desk.pcap" "$rec_all_at" "$stop_all_at" "$returned" 10.77.0.11,10.77.0.12,10.77.0.13,10.77.0.14 \
  "$(IFS=,; echo "${running_addresses[*]}")" "$work"/phone{1,2,3,4}.jsonl || fail "the datagrams on the lab interface"
# Ctrl+Q with the session still running ends the application with status 0, and Qt says nothing of
# how its objects went (an object deleted twice, or from the wrong thread).
running() { local state; state=$(ps -o stat= -p "$app_pid" 2>/dev/null); [ -n "$state" ] && [[ $state != Z* ]]; }
ended() { ! running; }
xdotool key --clearmodifiers ctrl+q
wait_until 30 ended || fail "Ctrl+Q with the session running did not end the application"
app_status=0
wait "$app_pid" || app_status=$?
[ "$app_status" = 0 ] || fail "the application ended with status $app_status after Ctrl+Q"
if grep -E "QObject|another thread" "$work/app.log" >"$work/last-check"; then fail "Qt's warnings as the application quit"; fi
echo "director window lab test passed"
