#!/usr/bin/env bash
# Real-peer check of resolved addresses: inside a private network lab, a simulated phone serves
# HTTPS on phone1 and advertises it with avahi-publish under phone1's ".local" host name; the desk
# runs the test program's desk case (LANDiscovery over its own avahi-daemon, then the store), whose
# system resolver has no mDNS module, so only the address DNS-SD resolved can reach the phone.
#
# Usage: store_avahi_lab_test.sh TEST_PROGRAM
# Exit status: 0 passed, 77 cannot run here (reason on stderr), anything else failed.
#
# Every daemon runs inside a lab namespace with a private mount namespace (its own /run), only on
# the lab's eth0, and talks to a bus of its own. Everything started here is stopped and the lab
# removed on every exit path.
set -euo pipefail

readonly EXIT_SKIP=77
readonly STEP_TIMEOUT_S=15
readonly DESK_TIMEOUT_S=120

program=${1:?usage: store_avahi_lab_test.sh TEST_PROGRAM}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
lab_script=$root/scripts/lab

skip() {
  echo "store avahi lab: $* -- skipped" >&2
  exit "$EXIT_SKIP"
}

[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
for tool in avahi-daemon avahi-publish dbus-daemon ip unshare timeout mount python3; do
  command -v "$tool" >/dev/null 2>&1 || skip "'$tool' is not installed"
done
if grep -Eq '^hosts:.*mdns' /etc/nsswitch.conf; then skip "the system resolver has an mDNS module"; fi

work=$(mktemp -d /tmp/velk-store-lab.XXXXXX)
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
  echo "store avahi lab: $*" >&2
  local log
  for log in "$work"/*/*.log; do
    [ -f "$log" ] || continue
    echo "---- $log" >&2
    tail -n 30 "$log" >&2
  done
  exit 1
}


status=0
lab=$("$lab_script" up --phones 1 2>"$work/lab-up.log") || status=$?
if [ "$status" -eq "$EXIT_SKIP" ]; then skip "the network lab cannot be built here: $(tail -n 1 "$work/lab-up.log")"; fi
[ "$status" -eq 0 ] && [ -n "$lab" ] || { lab=""; fail "building the lab failed: $(cat "$work/lab-up.log")"; }

# A private system bus and an avahi-daemon (eth0 only, IPv4, host name velk-HOST.local) for HOST.
# shellcheck source=../sim/lab_services.sh
source "$root/tests/sim/lab_services.sh"
start_host() {
  start_bus "$1"
  start_avahi "$1"
  wait_for "$work/$1/avahi.log" "Server startup complete" "avahi-daemon on $1"
}

start_host phone1
start_host desk

# The desk case starts the phone and its advertisement in phone1 itself (it learns the phone's
# identity first), then browses, pairs and downloads.
desk_status=0
ip netns exec "$lab-desk" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/desk/bus" \
  VELK_STORE_LAB_ROLE=desk VELK_LAB="$lab" VELK_STORE_LAB_DIR="$work" \
  timeout -k 5 "$DESK_TIMEOUT_S" "$program" --gtest_filter='StoreAvahiLabDesk.*' >"$work/desk/program.log" 2>&1 ||
  desk_status=$?
cat "$work/desk/program.log" >&2
[ "$desk_status" -eq 0 ] || fail "the desk program failed (status $desk_status)"
grep -q '\[  PASSED  \] 1 test' "$work/desk/program.log" || fail "the desk case did not run"
echo "store avahi lab: passed" >&2
