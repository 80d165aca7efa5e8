# Sourced by the scripts that need an X server of their own.
#
# start_xvfb LOG [Xvfb options...] starts Xvfb and sets xvfb_display (":N") and xvfb_pid; returns 1
# when no server started. Xvfb's lock file in /tmp is what keeps two servers off one number (a
# server in a network namespace does not see another's socket and would replace its file), so it
# tries numbers until an Xvfb holds one and reports ready. The server never resets: one that resets
# whenever its last client leaves refuses a connection that arrives during the reset, and the last
# client to leave is often a tool that only asked whether the display answers (xdotool), or the
# accessibility bus's launcher.
start_xvfb() {
  local log=$1 ready n
  shift
  ready=$(mktemp)
  xvfb_display="" xvfb_pid=""
  for n in $(shuf -i 100-899 -n 30); do
    [ ! -e "/tmp/.X$n-lock" ] || continue
    : >"$ready"
    Xvfb ":$n" -displayfd 3 -nolisten tcp -noreset "$@" 3>"$ready" >>"$log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 300); do
      if [ -s "$ready" ]; then
        xvfb_display=":$n"
        rm -f "$ready"
        return 0
      fi
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  rm -f "$ready"
  return 1
}

# start_window_manager NAME LOG starts the window manager NAME on $DISPLAY and sets wm_pid; returns 1
# (with the reason in LOG) when it is missing or did not start within thirty seconds. NAME is
# "openbox", "mutter" (GNOME's, in its X11 mode, as GNOME on Xorg runs it) or "kwin_x11" (KDE's,
# its compositing off); mutter and kwin_x11 need a session bus (DBUS_SESSION_BUS_ADDRESS). A window
# manager is ready once the root window names it as the one that supports the desktop's hints
# (_NET_SUPPORTING_WM_CHECK), which each sets once it manages the screen.
start_window_manager() {
  local name=$1 log=$2 expected check
  wm_pid=""
  case $name in
    openbox) expected=Openbox ;;
    mutter) expected=Mutter ;;
    kwin_x11) expected=KWin ;;
    *) echo "start_window_manager: no window manager called '$name'" >>"$log"; return 1 ;;
  esac
  command -v "$name" >/dev/null || { echo "start_window_manager: $name is missing (scripts/setup installs it)" >>"$log"; return 1; }
  case $name in
    openbox) openbox --sm-disable >>"$log" 2>&1 & ;;
    mutter) mutter --x11 --replace --sm-disable >>"$log" 2>&1 & ;;
    kwin_x11) KWIN_COMPOSE=N kwin_x11 --replace >>"$log" 2>&1 & ;;
  esac
  wm_pid=$!
  for _ in $(seq 600); do
    check=$(xprop -root -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | awk '/window id/ {print $NF}')
    if [ -n "$check" ] && xprop -id "$check" -notype _NET_WM_NAME 2>/dev/null | grep -q "\"$expected\""; then
      return 0
    fi
    kill -0 "$wm_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "start_window_manager: $name did not start" >>"$log"
  return 1
}
