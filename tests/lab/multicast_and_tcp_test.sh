#!/usr/bin/env bash
# A phone's datagram to the discovery group reaches the desk, a phone can open a TCP
# connection to the desk, and nothing of the lab remains after "down".
set -euo pipefail
source "$(dirname "$0")/common.sh"

lab=$("$lab_script" up --phones 2) || exit $?
trap '"$lab_script" down "$lab"; rm -rf "$work"' EXIT

"$lab_script" exec "$lab" desk -- timeout 10 "$python" "$peer" \
  multicast-receive 239.255.71.42 45454 eth0 "announce-$lab" 6 >"$work/receiver" 2>&1 &
receiver=$!
wait_for_line "$work/receiver" ready
"$lab_script" exec "$lab" phone1 -- timeout 10 "$python" "$peer" \
  multicast-send 239.255.71.42 45454 "announce-$lab" 5 >"$work/sender" 2>&1 || true
receiver_status=0
wait "$receiver" || receiver_status=$?
cat "$work/receiver" "$work/sender"
check "the desk receives the multicast datagram" [ "$receiver_status" -eq 0 ]
check "the datagram comes from phone1" grep -qx "received from 10.77.0.11" "$work/receiver"
check "phone1 gets the desk's unicast answer" grep -qx "acknowledged by 10.77.0.1" "$work/sender"

"$lab_script" exec "$lab" desk -- timeout 10 "$python" "$peer" \
  tcp-serve 10.77.0.1 45455 5 >"$work/server" 2>&1 &
server=$!
wait_for_line "$work/server" ready
"$lab_script" exec "$lab" phone2 -- timeout 10 "$python" "$peer" \
  tcp-connect 10.77.0.1 45455 5 >"$work/client" 2>&1 || true
server_status=0
wait "$server" || server_status=$?
cat "$work/server" "$work/client"
check "the desk accepts a TCP connection" [ "$server_status" -eq 0 ]
check "phone2 talks to the desk over TCP" grep -qx "hello 10.77.0.12 probe" "$work/client"

"$lab_script" down "$lab"
check "no namespace of the lab remains" [ -z "$(namespaces_of "$lab")" ]
check "down again succeeds" "$lab_script" down "$lab"
echo "ok"
