#!/usr/bin/env bash
# Every host of the lab sees eth0 with its address and a multicast route but no way out, and
# neither building nor removing the lab adds or leaves an interface in the root namespace.
set -euo pipefail
source "$(dirname "$0")/common.sh"

root_link_names >"$work/links-before"
lab=$("$lab_script" up --phones 3) || exit $?
trap '"$lab_script" down "$lab"; rm -rf "$work"' EXIT
root_link_names >"$work/links-during"

check "the lab adds no interface to the root namespace" \
  diff "$work/links-before" "$work/links-during"
check "the lab's name is listed" grep -qx "$lab" <("$lab_script" list)

address_of() {
  "$lab_script" exec "$lab" "$1" -- ip -o -4 addr show dev eth0 | awk '{print $4}'
}
routes_of() {
  "$lab_script" exec "$lab" "$1" -- ip -4 route show
}
check "the desk is 10.77.0.1/24 on eth0" [ "$(address_of desk)" = 10.77.0.1/24 ]
for k in 1 2 3; do
  check "phone$k is 10.77.0.$((10 + k))/24 on eth0" [ "$(address_of "phone$k")" = "10.77.0.$((10 + k))/24" ]
done
for host in desk phone1 phone3; do
  routes_of "$host" >"$work/routes-$host"
  check "$host has a multicast route on eth0" grep -q "^224.0.0.0/4 dev eth0" "$work/routes-$host"
  check "$host has no default route" bash -c "! grep -q '^default' '$work/routes-$host'"
  check "$host has only lo and eth0" \
    [ "$("$lab_script" exec "$lab" "$host" -- ls /sys/class/net | sort | tr '\n' ' ')" = "eth0 lo " ]
done
check "an address outside the lab is unreachable" \
  bash -c "! '$lab_script' exec '$lab' desk -- ip route get 192.0.2.1 >/dev/null 2>&1"

"$lab_script" down "$lab"
root_link_names >"$work/links-after"
check "removing the lab leaves the root namespace as it was" \
  diff "$work/links-before" "$work/links-after"
check "no namespace of the lab remains" [ -z "$(namespaces_of "$lab")" ]
echo "ok"
