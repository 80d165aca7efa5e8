#!/usr/bin/env bash
# "run" hands the command the lab's addresses, returns its status and always removes the lab,
# also when the run is stopped.
set -euo pipefail
source "$(dirname "$0")/common.sh"

status=0
"$lab_script" run --phones 3 -- bash -c '
  echo "$VELK_LAB" >"$1/lab"
  echo "$VELK_LAB_DESK" >"$1/desk"
  echo "$VELK_LAB_PHONES" >"$1/phones"
  ip -o -4 addr show dev eth0 | awk "{print \$4}" >"$1/own"
  "$VELK_LAB_SCRIPT" exec "$VELK_LAB" phone3 -- ip -o -4 addr show dev eth0 |
    awk "{print \$4}" >"$1/phone3"
  exit 3' run "$work" || status=$?
[ "$status" -ne 77 ] || exit 77
check "run returns the command's status" [ "$status" -eq 3 ]
check "VELK_LAB_DESK is the desk's address" [ "$(cat "$work/desk")" = 10.77.0.1 ]
check "VELK_LAB_PHONES lists every phone" [ "$(cat "$work/phones")" = "10.77.0.11 10.77.0.12 10.77.0.13" ]
check "the command runs in the desk" [ "$(cat "$work/own")" = 10.77.0.1/24 ]
check "the command can reach into a phone" [ "$(cat "$work/phone3")" = 10.77.0.13/24 ]
lab=$(cat "$work/lab")
check "the lab is gone after the command" [ -z "$(namespaces_of "$lab")" ]

# A stopped run still tears down, including what is left running inside the lab.
"$lab_script" run -- bash -c 'echo "$VELK_LAB" >"$1/stopped-lab"; exec sleep 30' run "$work" &
runner=$!
wait_for_line "$work/stopped-lab" "velk.*"
kill -TERM "$runner"
status=0
wait "$runner" || status=$?
check "a stopped run reports the signal" [ "$status" -eq 143 ]
lab=$(cat "$work/stopped-lab")
check "a stopped run leaves no namespace" [ -z "$(namespaces_of "$lab")" ]

if command -v setpriv >/dev/null; then
  status=0
  setpriv --reuid=65534 --regid=65534 --clear-groups "$lab_script" up 2>"$work/unprivileged" || status=$?
  check "without root the lab says it cannot run, with status 77" [ "$status" -eq 77 ]
  check "the message says why" grep -q "not running as root" "$work/unprivileged"
fi
echo "ok"
