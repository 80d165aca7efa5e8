#!/usr/bin/env bash
# The application against a system bus that does not answer, on a virtual X display, in a network
# namespace of its own (nothing it sends leaves it). For each setup, no bus at all, a bus that takes
# connections and never answers, a bus that lets the first N connections through and then falls
# silent, and a session bus or a screen reader's accessibility bus that never answers (with Qt's
# accessibility bridge on): the Director window maps within a few seconds, Ctrl+Q ends the process
# with status 0 within two seconds, and a second start opens its window too. A session bus or an
# accessibility bus that answers only 2.5 s after it is first asked is still the one the
# application connects to (its process is on that bus while its window shows). With the screen
# reader's accessibility bus named in AT_SPI_BUS_ADDRESS, or on the root window while the session bus
# never answers, the application is on the registry's desktop within the same limit as the window.
#
#   silent_bus_test.sh APP [--report]
# --report measures without failing (the seconds until the Director maps, until it is on the
# registry's desktop and until the process ends after Ctrl+Q) and gives up on a window after 30 s.
# Exits 77 (skipped) without root or the X tools.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
app=$(readlink -f "${1:?usage: silent_bus_test.sh APP [--report]}")
report=0
[ "${2:-}" != --report ] || report=1
map_limit=$([ "$report" = 1 ] && echo 30 || echo 10)
quit_limit=$([ "$report" = 1 ] && echo 30 || echo 2)

skip() {
  echo "silent bus: $* -- skipped" >&2
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "a network namespace of its own needs root"
for tool in Xvfb xdotool xprop unshare dbus-daemon /usr/bin/python3; do
  command -v "$tool" >/dev/null || skip "$tool is missing (run scripts/setup)"
done
[ -x "$app" ] || skip "$app is not built"

# shellcheck source=../support/script_run.sh
. "$source_dir/tests/support/script_run.sh"
now() { date +%s.%N; }
since() { awk -v from="$1" -v to="$(now)" 'BEGIN { printf "%.2f", to - from }'; }
past() { awk -v from="$1" -v limit="$2" -v to="$(now)" 'BEGIN { exit !(to - from > limit) }'; } # START SECONDS

. "$here/../support/xvfb.sh"
start_xvfb "$work/xvfb.log" -screen 0 1400x900x24 || skip "no X server started"
pids+=("$xvfb_pid")
export DISPLAY=$xvfb_display

# A desktop session's own bus, as every desktop has one; on a path, since a network namespace does
# not reach the abstract sockets of another.
dbus-daemon --session --nofork --address="unix:path=$work/session-bus" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$work/session-bus" ] && break; sleep 0.05; done

# Whether the bus at ADDRESS has a connection made through the late bus's relay (process RELAY,
# which the bus daemon takes for its peer), seen twice 0.3 s apart: the application's, once the
# start-up check's own connections are closed.
on_bus() { # ADDRESS RELAY
  local k
  for k in 1 2; do
    [ "$k" = 1 ] || sleep 0.3
    busctl --address="$1" list --no-legend --no-pager 2>/dev/null |
      awk -v pid="$2" '$1 ~ /^:/ && $2 == pid { found = 1 } END { exit !found }' || return 1
  done
}

# Whether the process PID is among the applications on the desktop of the registry at ADDRESS.
on_desktop() { # ADDRESS PID
  local name
  for name in $(busctl --address="$1" call org.a11y.atspi.Registry /org/a11y/atspi/accessible/root \
    org.a11y.atspi.Accessible GetChildren 2>/dev/null | grep -o '":[0-9.]*"' | tr -d '"'); do
    [ "$(busctl --address="$1" call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
      GetConnectionUnixProcessID s "$name" 2>/dev/null)" != "u $2" ] || return 0
  done
  return 1
}

# One start of the application: maps its Director window, then quits by Ctrl+Q. Prints
# "MAP QUIT STATUS BUS DESKTOP" (seconds, or "-" when it did not happen; BUS: "connected" when the
# application came on the late bus, when $expect_on_bus is set ($late_address, which the bus
# daemon sees as its peer $late_relay), while its window showed, else "-"; DESKTOP: the seconds
# from its start until it was seen on the desktop of the registry at $expect_on_desktop, when set).
run_once() { # SETUP RUN [VARIABLE=VALUE...]
  local name=$1 run=$2 started pid window map quit status bus=- desktop=-
  shift 2
  local folder="$work/$name"
  mkdir -p "$folder/home" "$folder/run"
  chmod 700 "$folder/run"
  started=$(now)
  unshare --net -- env HOME="$folder/home" XDG_DATA_HOME="$folder/home/data" \
    XDG_CONFIG_HOME="$folder/home/config" XDG_CACHE_HOME="$folder/home/cache" XDG_RUNTIME_DIR="$folder/run" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/session-bus" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system-bus" \
    QT_QPA_PLATFORM=xcb "$@" "$app" >"$folder/app-$run.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  # Looked for every 20 ms: xdotool's own --sync looks only twice a second.
  window=""
  while ! past "$started" "$map_limit"; do
    window=$(xdotool search --onlyvisible --pid "$pid" --name "Kestova Director" 2>/dev/null | head -1)
    [ -z "$window" ] || break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.02
  done
  if [ -z "$window" ]; then
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    echo "- - - - -"
    return
  fi
  map=$(since "$started")
  if [ -n "${expect_on_desktop:-}" ]; then
    while ! past "$started" "$map_limit"; do
      if on_desktop "$expect_on_desktop" "$pid"; then desktop=$(since "$started"); break; fi
      sleep 0.05
    done
  fi
  if [ -n "${expect_on_bus:-}" ]; then
    while ! past "$started" "$map_limit"; do
      if on_bus "$late_address" "$late_relay"; then bus=connected; break; fi
      sleep 0.05
    done
  fi
  xdotool windowfocus --sync "$window" 2>/dev/null
  started=$(now)
  xdotool key --clearmodifiers ctrl+q
  quit=-
  while ! past "$started" "$quit_limit"; do
    if ! kill -0 "$pid" 2>/dev/null; then
      quit=$(since "$started")
      break
    fi
    sleep 0.01
  done
  if [ "$quit" = - ]; then
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    echo "$map - - $bus $desktop"
    return
  fi
  wait "$pid"
  status=$?
  echo "$map $quit $status $bus $desktop"
}

# SETUP ANSWERED [VARIABLE=VALUE...]: ANSWERED is "none" for no system bus at all, else how many
# connections the bus lets through before it falls silent (0: silent from the start); the variables
# are the application's own (another bus for it, say).
check_setup() {
  local name=$1 answered=$2 bus="" run result map quit status connected desktop
  shift 2
  rm -f "$work/system-bus"
  if [ "$answered" != none ]; then
    /usr/bin/python3 "$source_dir/tests/support/fake_system_bus.py" "$work/system-bus" --answer "$answered" \
      >"$work/bus-$name.log" 2>&1 &
    bus=$!
    pids+=("$bus")
    for _ in $(seq 100); do grep -q ready "$work/bus-$name.log" 2>/dev/null && break; sleep 0.05; done
  fi
  for run in 1 2; do
    result=$(run_once "$name" "$run" "$@")
    read -r map quit status connected desktop <<<"$result"
    echo "$name, start $run: Director mapped after ${map} s, ended ${quit} s after Ctrl+Q, status ${status}" \
      "${expect_on_bus:+, on the late bus: $connected}${expect_on_desktop:+, on the desktop of the registry after $desktop s}"
    [ "$report" = 1 ] && continue
    [ -z "${expect_on_bus:-}" ] || [ "$connected" = connected ] || fail "$name, start $run: the application never came on the bus that answered late"
    [ -z "${expect_on_desktop:-}" ] || [ "$desktop" != - ] ||
      fail "$name, start $run: the application was not on the registry's desktop within $map_limit s"
    [ "$map" != - ] || { fail "$name, start $run: no Director window within $map_limit s"; tail -5 "$work/$name/app-$run.log" >&2; continue; }
    [ "$quit" != - ] || { fail "$name, start $run: still running $quit_limit s after Ctrl+Q"; continue; }
    [ "$status" = 0 ] || fail "$name, start $run: ended with status $status"
  done
  if [ -n "$bus" ]; then
    kill -TERM "$bus" 2>/dev/null
    wait "$bus" 2>/dev/null
  fi
}

check_setup no-bus none
check_setup silent-bus 0
check_setup silent-after-1 1
check_setup silent-after-2 2
# A session bus and an accessibility bus that never answer, beside a working system bus.
/usr/bin/python3 "$source_dir/tests/support/fake_system_bus.py" "$work/silent-bus.socket" --answer 0 >"$work/silent-bus.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/silent-bus.log" 2>/dev/null && break; sleep 0.05; done
# The accessibility bus's launcher, started on the working session bus by the starts above, leaves
# its address on the root window, where Qt's bridge looks before it asks the session bus.
xprop -root -remove AT_SPI_BUS
check_setup silent-session-bus 1000 DBUS_SESSION_BUS_ADDRESS="unix:path=$work/silent-bus.socket"
check_setup silent-accessibility-bus 1000 AT_SPI_BUS_ADDRESS="unix:path=$work/silent-bus.socket" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS "unix:path=$work/silent-bus.socket"
check_setup silent-accessibility-bus-on-display 1000 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# The accessibility bus of the launcher on the working session bus (started for the question), named
# to the application another way: in the environment, as sandboxes do, and on the root window while
# the session bus never answers.
accessibility_address=$(busctl --address="unix:path=$work/session-bus" call org.a11y.Bus /org/a11y/bus org.a11y.Bus GetAddress |
  sed -n 's/^s "\(.*\)"$/\1/p')
if [ -z "$accessibility_address" ]; then
  fail "the accessibility bus's launcher gave no address"
else
  expect_on_desktop=$accessibility_address check_setup accessibility-bus-in-environment 1000 \
    AT_SPI_BUS_ADDRESS="$accessibility_address"
  xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS "$accessibility_address"
  expect_on_desktop=$accessibility_address check_setup silent-session-bus-accessibility-bus-on-display 1000 \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/silent-bus.socket"
fi

# A session bus, then an accessibility bus, that answer 2.5 s after they are first asked, as on a
# loaded login: the application waits for them (under one deadline for both) and uses them.
late_bus() { # NAME: starts a bus that answers late at $work/NAME.socket; sets late_address and late_relay
  # Its own lines apart from its dbus-daemon's warnings, which could land inside one of them.
  /usr/bin/python3 "$source_dir/tests/support/fake_system_bus.py" "$work/$1.socket" --answer 1000 --hold 2.5 \
    >"$work/$1.log" 2>"$work/$1.err" &
  pids+=($!)
  late_relay=$!
  for _ in $(seq 600); do grep -q '^ready' "$work/$1.log" 2>/dev/null && break; sleep 0.05; done
  late_address=$(sed -n 's/^real //p' "$work/$1.log")
  if ! grep -q '^ready' "$work/$1.log" || [ -z "$late_address" ]; then
    echo "FAILED: the late bus $1 did not start (relay $late_relay, address '$late_address')" >&2
    cat "$work/$1.log" "$work/$1.err" >&2
    exit 1
  fi
}
xprop -root -remove AT_SPI_BUS
late_bus late-session-bus
expect_on_bus=1 check_setup late-session-bus 1000 DBUS_SESSION_BUS_ADDRESS="unix:path=$work/late-session-bus.socket" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
late_bus late-accessibility-bus
expect_on_bus=1 check_setup late-accessibility-bus 1000 AT_SPI_BUS_ADDRESS="unix:path=$work/late-accessibility-bus.socket" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

[ "$failures" -eq 0 ] || exit 1
echo "silent bus: passed"
