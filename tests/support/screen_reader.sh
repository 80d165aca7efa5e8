# shellcheck shell=bash
# Sourced by the real-window rigs that run in a screen reader's session.
#
# start_screen_reader DIR starts, on the session bus of DBUS_SESSION_BUS_ADDRESS and the display of
# DISPLAY, what listens on a screen reader user's desktop: an event listener registered with the
# accessibility registry (screen_reader_listener; asking for the registry has the session bus
# start at-spi2-core's accessibility bus and registry), then Orca, braille off, where it is installed
# (what it speaks goes to DIR/orca-debug.log), once it has registered its own listeners with the
# registry. Sets screen_reader ("Orca" or "a listener"); returns 1 when one did not start (its log is
# in DIR).
# stop_screen_reader ends them.
here_screen_reader=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Orca ends at its start when another Orca of the same user runs anywhere on the machine, and with
# --replace it ends them all: this one runs in a process namespace of its own under another
# process name, so it neither meets nor is met by any other (bench/soak_bench.py does the same).
# It speaks with no speech server (no sound to wait on: a speech server without one stalls it), and
# what it speaks goes to its debug log ("SPEECH OUTPUT", its only lines, so the log costs it nothing
# else), written line by line, where the rigs read it.
orca_renamed='import sys; path = sys.argv[1]; sys.argv = sys.argv[1:]
code = open(path).read().replace("setProcessName('"'"'orca'"'"')", "setProcessName('"'"'rig-orca'"'"')")
code = code.replace("open(args.debug_file, '"'"'w'"'"')", "open(args.debug_file, '"'"'w'"'"', buffering=1)")
code = code.replace("    from orca import orca\n", "    from orca import orca\n    from orca import speech as rig_speech\n"
                    "    rig_speech.init = lambda *args, **kwargs: None\n")
code = code.replace("from orca import debug\n", "from orca import debug\nrig_println = debug.println\n"
                    "debug.println = lambda level, text=\"\", *rest: rig_println(level, text, *rest) if \"SPEECH OUTPUT\" in text else None\n", 1)
exec(compile(code, path, "exec"), {"__name__": "__main__"})'

# Whether some listener other than screen_reader_listener registered window events (Orca does).
orca_listens() {
  local address
  address=$(busctl --address="$DBUS_SESSION_BUS_ADDRESS" call org.a11y.Bus /org/a11y/bus org.a11y.Bus GetAddress \
    2>/dev/null | sed -n 's/^s "\(.*\)"$/\1/p')
  [ -n "$address" ] && busctl --address="$address" call org.a11y.atspi.Registry /org/a11y/atspi/registry \
    org.a11y.atspi.Registry GetRegisteredEvents 2>/dev/null | grep -qi '"window:activate'
}

screen_reader_listener_pid="" screen_reader_orca_pid=""
stop_screen_reader() {
  # Orca is the first process of its namespace, which ignores a signal it has no handler for:
  # unshare hands its own end on to it as SIGKILL. (Safe under set -e, as in an EXIT trap.)
  if [ -n "$screen_reader_orca_pid" ]; then
    kill -KILL "$screen_reader_orca_pid" 2>/dev/null || true
    wait "$screen_reader_orca_pid" 2>/dev/null || true
  fi
  if [ -n "$screen_reader_listener_pid" ]; then
    kill -TERM "$screen_reader_listener_pid" 2>/dev/null || true
    wait "$screen_reader_listener_pid" 2>/dev/null || true
  fi
  screen_reader_listener_pid="" screen_reader_orca_pid=""
}

# shellcheck disable=SC2034 # screen_reader is the caller's to tell
start_screen_reader() { # DIR
  local dir=$1 orca interpreter
  # For the sanitized build: what Qt's bridge keeps of keys the reader has not answered at quit.
  export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here_screen_reader/screen_reader.lsan"
  screen_reader="a listener"
  /usr/bin/python3 "$here_screen_reader/screen_reader_listener" >"$dir/listener.out" 2>"$dir/listener.log" &
  screen_reader_listener_pid=$!
  for _ in $(seq 600); do
    grep -q listening "$dir/listener.out" 2>/dev/null && break
    kill -0 "$screen_reader_listener_pid" 2>/dev/null || return 1
    sleep 0.05
  done
  grep -q listening "$dir/listener.out" || return 1
  orca=$(command -v orca) || return 0
  command -v busctl >/dev/null || return 0
  # The Python its first line names: Orca's modules are installed for that one.
  interpreter=$(sed -n '1s/^#! *\([^ ]*\).*/\1/p' "$orca")
  mkdir -p "$dir/orca"
  unshare --pid --fork --kill-child --mount-proc "${interpreter:-/usr/bin/python3}" -c "$orca_renamed" "$orca" \
    --enable speech --disable braille --user-prefs "$dir/orca" --debug-file "$dir/orca-debug.log" >"$dir/orca.log" 2>&1 &
  screen_reader_orca_pid=$!
  for _ in $(seq 600); do
    if orca_listens; then
      screen_reader=Orca
      return 0
    fi
    kill -0 "$screen_reader_orca_pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}
