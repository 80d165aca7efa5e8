# Sourced by lab scripts (bash): a private system bus and an avahi-daemon for one lab host, each
# inside the host's network namespace, under its own /run, talking only on the lab's eth0.
# Nothing touches this machine's network, bus or daemons.
#
# The caller sets: lab (the lab's name), work (a folder of its own), STEP_TIMEOUT_S and the array
# pids, to which every process started here is added, and defines fail MESSAGE.

# Waits until FILE exists and (when given) contains TEXT, for at most LIMIT seconds
# (STEP_TIMEOUT_S unless given): wait_for FILE TEXT WHAT [LIMIT]
wait_for() {
  local file=$1 text=${2:-} what=$3 limit=${4:-$STEP_TIMEOUT_S} tries
  for ((tries = 0; tries < limit * 10; tries++)); do
    if [ -e "$file" ] && { [ -z "$text" ] || grep -qF -- "$text" "$file"; }; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for $what"
}

# A private system bus for HOST, listening on $work/HOST/bus (any local user may use it).
start_bus() {
  local host=$1 dir=$work/$1
  mkdir -p "$dir"
  chmod 755 "$dir"
  cat >"$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
  ip netns exec "$lab-$host" dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile \
    >"$dir/bus.log" 2>&1 &
  pids+=($!)
  wait_for "$dir/bus" "" "the bus of $host"
  chmod 666 "$dir/bus"
}

# avahi-daemon for HOST (host name velk-HOST.local) on eth0 only, IPv4 only, under its own /run
# and without the machine's static services. With "restartable", the daemon's process id goes to
# $work/HOST/avahi.pid and the daemon is started once more after it ends, so a test can make it go
# away and come back.
start_avahi() {
  local host=$1 mode=${2:-once} dir=$work/$1
  cat >"$dir/avahi.conf" <<EOF
[server]
host-name=velk-$host
domain-name=local
use-ipv4=yes
use-ipv6=no
allow-interfaces=eth0
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-addresses=yes
publish-hinfo=no
publish-workstation=no
publish-domain=no
publish-aaaa-on-ipv4=no
publish-a-on-ipv6=no
[reflector]
enable-reflector=no
[rlimits]
EOF
  ip netns exec "$lab-$host" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/bus" \
    unshare --mount --propagation private -- sh -c '
      set -e
      mount -t tmpfs velk-lab-run /run
      mkdir -p /run/avahi-daemon /run/dbus
      if [ -d /etc/avahi/services ]; then mount -t tmpfs velk-lab-services /etc/avahi/services; fi
      if [ "$2" = restartable ]; then
        avahi-daemon --no-chroot --no-drop-root --no-rlimits -f "$1" &
        child=$!
        trap "kill -TERM \$child 2>/dev/null; exit 143" TERM
        echo "$child" >"$3.tmp" && mv "$3.tmp" "$3"
        wait "$child" || true
        trap - TERM
        rm -f /run/avahi-daemon/pid
      fi
      exec avahi-daemon --no-chroot --no-drop-root --no-rlimits -f "$1"
    ' sh "$dir/avahi.conf" "$mode" "$dir/avahi.pid" >"$dir/avahi.log" 2>&1 &
  pids+=($!)
}
