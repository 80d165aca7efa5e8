#!/usr/bin/env bash
# Real-peer check of the Bonjour browser: inside a private network lab, two simulated phones run
# their own system bus and avahi-daemon and advertise transfer sources with avahi-publish; the desk
# runs the test program's desk case (the Avahi backend and LANDiscovery), which must find, resolve
# and lose the advertisements.
#
# With a CASE, the desk runs AvahiLabReturns with VELK_AVAHI_LAB_CASE=CASE instead, against one
# phone, and drives the lab through requests: it appends "N ACTION [ARGUMENT...]" lines to
# $work/requests, and this script does each in turn and appends "N" to $work/done. ACTION is
# publish NAME [PORT TXT...] (a transfer source on phone1, port 8443 unless given),
# publish-many PREFIX FIRST LAST (PREFIXFIRST to PREFIXLAST, published side by side),
# publish-hostless NAME HOST (the same on a host HOST that has no address yet), address HOST (HOST
# gets phone1's address), withdraw NAME, phone-pause, phone-continue (phone1's avahi-daemon: STOP,
# CONT), daemon-stop, daemon-start, daemon-pause, daemon-continue (the desk's avahi-daemon: TERM,
# start, STOP, CONT), bus-stop (the desk's bus, which the daemon leaves with) or bus-start (the
# bus at the same address), or reference (avahi-browse -rpkft of the transfer type on the desk, its
# lines in $work/desk/reference.txt, for the list to be held against). A process told to end that lingers is killed, and an "avahi lab note:"
# line says so.
#
# Usage: avahi_lab_test.sh TEST_PROGRAM [CASE]
# Exit status: 0 passed, 77 cannot run here (reason on stderr), anything else failed.
#
# Every daemon runs inside a lab namespace with a private mount namespace (its own /run), only on
# the lab's eth0, and talks to a bus of its own; nothing touches this machine's network, bus or
# daemons. Everything started here is stopped and the lab removed on every exit path.
set -euo pipefail

readonly EXIT_SKIP=77
# Bounds on waits for what normally takes a second or two (a daemon starting, a service being
# published, a process ending), far beyond what a loaded machine takes: only a step that is stuck
# reaches them.
readonly STEP_TIMEOUT_S=60
# How long a process told to end (TERM) may take before it is killed, and how long the desk's
# avahi-daemon may stay on once its bus went before it is told to end.
readonly END_GRACE_S=10
readonly DESK_TIMEOUT_S=180
readonly RETURNS_TIMEOUT_S=300

program=${1:?usage: avahi_lab_test.sh TEST_PROGRAM [CASE]}
case_name=${2:-}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
lab_script=$root/scripts/lab

skip() {
  echo "avahi lab: $* -- skipped" >&2
  exit "$EXIT_SKIP"
}

[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
[ -x "$lab_script" ] || skip "scripts/lab is missing"
for tool in avahi-daemon avahi-publish dbus-daemon ip unshare timeout mount; do
  command -v "$tool" >/dev/null 2>&1 || skip "'$tool' is not installed"
done

work=$(mktemp -d /tmp/velk-avahi-lab.XXXXXX)
lab=""
pids=()

# shellcheck source=../support/own_processes.sh
source "$root/tests/support/own_processes.sh"

cleanup() {
  end_own_processes 5 "${pids[@]}"
  if [ -n "$lab" ]; then "$lab_script" down "$lab" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "avahi lab: $*" >&2
  local log
  for log in "$work"/*/*.log; do
    [ -f "$log" ] || continue
    echo "---- $log" >&2
    tail -n 30 "$log" >&2
  done
  exit 1
}


status=0
lab=$("$lab_script" up --phones 2 2>"$work/lab-up.log") || status=$?
if [ "$status" -eq "$EXIT_SKIP" ]; then skip "the network lab cannot be built here: $(tail -n 1 "$work/lab-up.log")"; fi
[ "$status" -eq 0 ] && [ -n "$lab" ] || { lab=""; fail "building the lab failed: $(cat "$work/lab-up.log")"; }

# start_bus HOST and start_avahi HOST [restartable]
# shellcheck source=../sim/lab_services.sh
source "$root/tests/sim/lab_services.sh"

publish() {
  local host=$1 out=$2
  shift 2
  ip netns exec "$lab-$host" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/$host/bus" \
    avahi-publish -s "$@" >"$work/$host/$out.log" 2>&1 &
  pids+=($!)
  publisher_pid=$!
  wait_for "$work/$host/$out.log" "Established under name" "avahi-publish on $host"
}

declare -A phone_avahi_pids=()
for host in phone1 phone2; do
  start_bus "$host"
  start_avahi "$host"
  phone_avahi_pids[$host]=${pids[-1]}
done
for host in phone1 phone2; do
  wait_for "$work/$host/avahi.log" "Server startup complete" "avahi-daemon on $host"
done

# Waits for the desk program and fails unless its one case ran and passed.
wait_for_desk() {
  local desk_status=0
  wait "$desk_pid" || desk_status=$?
  cat "$work/desk/program.log" >&2
  [ "$desk_status" -eq 0 ] || fail "the desk program failed (status $desk_status)"
  grep -q '\[  PASSED  \] 1 test' "$work/desk/program.log" || fail "the desk case did not run"
}

if [ -n "$case_name" ]; then
  declare -A publishers=()
  desk_bus_pid="" desk_avahi_pid=""
  # True once process PID has ended (reaped or not), within LIMIT seconds: gone_within PID LIMIT
  gone_within() {
    local deadline=$((SECONDS + $2)) state
    while is_own_process "$1" && state=$(ps -o stat= -p "$1") && [[ $state != Z* ]]; do
      [ "$SECONDS" -lt "$deadline" ] || return 1
      sleep 0.05
    done
  }
  # Tells that process PID is still there, with its state and the last line of its LOG:
  # note_lingering PID WHAT LOG
  note_lingering() {
    echo "avahi lab note: $2 (state $(ps -o stat=,wchan= -p "$1"), last said: $(tail -n 1 "$3"))" >&2
  }
  # Ends process PID for sure: TERM, then KILL when it has not ended END_GRACE_S later, which is
  # told as a note: end_process PID WHAT [LOG]
  end_process() {
    if is_own_process "$1"; then kill -TERM "$1" 2>/dev/null || true; fi
    gone_within "$1" "$END_GRACE_S" && return 0
    note_lingering "$1" "$2 had not ended $END_GRACE_S s after TERM and is killed" "${3:-/dev/null}"
    kill -KILL "$1" 2>/dev/null || true
    gone_within "$1" "$STEP_TIMEOUT_S" || fail "$2 did not end even when killed"
  }
  do_request() {
    local action=$1 name=${2:-}
    shift $(($# < 2 ? $# : 2))
    case $action in
      publish)
        [ $# -gt 0 ] || set -- 8443 "deviceId=$name"
        publish phone1 "publish-$name" "$name" _velk-transfer._tcp "$@"
        publishers[$name]=$publisher_pid ;;
      publish-many)
        local first=$1 last=$2 number
        for ((number = first; number <= last; number++)); do
          ip netns exec "$lab-phone1" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/phone1/bus" \
            avahi-publish -s "$name$number" _velk-transfer._tcp 8443 "deviceId=$name$number" \
            >"$work/phone1/publish-$name$number.log" 2>&1 &
          pids+=($!)
          publishers[$name$number]=$!
        done
        for ((number = first; number <= last; number++)); do
          wait_for "$work/phone1/publish-$name$number.log" "Established under name" "avahi-publish of $name$number"
        done ;;
      reference)
        ip netns exec "$lab-desk" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/desk/bus" \
          timeout -k 5 "$STEP_TIMEOUT_S" avahi-browse -rpkft _velk-transfer._tcp >"$work/desk/reference.txt" 2>&1 ||
          true ;;
      publish-hostless)
        publish phone1 "publish-$name" -H "$1" "$name" _velk-transfer._tcp 8443
        publishers[$name]=$publisher_pid ;;
      address)
        ip netns exec "$lab-phone1" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/phone1/bus" \
          avahi-publish -a -R "$name" 10.77.0.11 >"$work/phone1/address-$name.log" 2>&1 &
        pids+=($!)
        wait_for "$work/phone1/address-$name.log" "Established under name" "the address of $name" ;;
      phone-pause) kill -STOP "${phone_avahi_pids[phone1]}" ;;
      phone-continue) kill -CONT "${phone_avahi_pids[phone1]}" ;;
      withdraw) end_process "${publishers[$name]}" "avahi-publish of $name" ;;
      daemon-start)
        start_avahi desk
        desk_avahi_pid=${pids[-1]} ;;
      daemon-stop) end_process "$desk_avahi_pid" "the desk's avahi-daemon" "$work/desk/avahi.log" ;;
      daemon-pause) kill -STOP "$desk_avahi_pid" ;;
      daemon-continue) kill -CONT "$desk_avahi_pid" ;;
      bus-start)
        start_bus desk
        desk_bus_pid=${pids[-1]} ;;
      bus-stop)
        # The daemon leaves when it sees its bus gone. One that still had a message to send spins
        # instead (avahi-daemon 0.8: its write fails with EPIPE and is tried again, round after
        # round, before it looks at the hang-up or at a TERM), so one still there is ended, with a
        # note: whether it leaves by itself is not what the cases are about.
        end_process "$desk_bus_pid" "the desk's bus" "$work/desk/bus.log"
        if ! gone_within "$desk_avahi_pid" "$END_GRACE_S"; then
          note_lingering "$desk_avahi_pid" "the desk's avahi-daemon is still there $END_GRACE_S s after its bus went" \
            "$work/desk/avahi.log"
          end_process "$desk_avahi_pid" "the desk's avahi-daemon" "$work/desk/avahi.log"
        fi
        rm -f "$work/desk/bus" ;;
      *) fail "unknown request: $action" ;;
    esac
  }
  touch "$work/requests" "$work/done"
  do_request bus-start
  do_request daemon-start
  wait_for "$work/desk/avahi.log" "Server startup complete" "avahi-daemon on the desk"
  ip netns exec "$lab-desk" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/desk/bus" \
    VELK_AVAHI_LAB_ROLE=desk-returns VELK_AVAHI_LAB_CASE="$case_name" VELK_AVAHI_LAB_DIR="$work" \
    timeout -k 5 "$RETURNS_TIMEOUT_S" "$program" --gtest_filter='AvahiLabReturns.*' >"$work/desk/program.log" 2>&1 &
  desk_pid=$!
  pids+=("$desk_pid")
  handled=0
  while kill -0 "$desk_pid" 2>/dev/null; do
    while read -r number request; do
      # shellcheck disable=SC2086 # a request's words are its arguments
      do_request $request
      echo "$number" >>"$work/done"
      handled=$number
    done < <(tail -n +"$((handled + 1))" "$work/requests")
    sleep 0.05
  done
  wait_for_desk
  echo "avahi lab: $case_name passed" >&2
  exit 0
fi

readonly FINGERPRINT=0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef
publish phone1 transfer "Velk Phone One" _velk-transfer._tcp 8443 \
  "fp=$FINGERPRINT" "sessionId=session-1" "deviceId=device-1" "foreground=1" "access=open" \
  "projectsDelete=trash-v1" "pair=velk/v1/pair2" "deviceId=second-device-1-value"
transfer_pid=$publisher_pid
publish phone2 legacy "Velk Legacy Two" _velk._tcp 8080 "catalog=api/list" "deviceId=device-2"

# The desk starts with its bus but without its daemon, so the browser first sees no DNS-SD
# service, then finds the phones once the daemon appears.
start_bus desk
ip netns exec "$lab-desk" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/desk/bus" \
  VELK_AVAHI_LAB_ROLE=desk VELK_AVAHI_LAB_DIR="$work" VELK_AVAHI_LAB_PUBLISHER_PID="$transfer_pid" \
  timeout -k 5 "$DESK_TIMEOUT_S" "$program" --gtest_filter='AvahiLabDesk.*' >"$work/desk/program.log" 2>&1 &
desk_pid=$!
pids+=("$desk_pid")
wait_for "$work/desk-waiting" "" "the desk program to start"
start_avahi desk restartable

wait_for_desk
echo "avahi lab: passed" >&2
