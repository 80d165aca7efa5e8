#!/usr/bin/python3
"""Window activation with Qt's Wayland platform, checked from outside under a real compositor.

The application runs with QT_QPA_PLATFORM=wayland, in a network namespace of its own, under a
headless mutter (GNOME's compositor, which answers xdg-activation-v1 with its focus-stealing
prevention: a window is activated only with a token made from a real input event of the user's).
A person's keys and clicks come through mutter's own remote-desktop input (virtual devices, on
the session bus the rig starts), so every event reaches the application with the compositor's
serial, as a user's would. What happened is read from the application's Wayland protocol log
(WAYLAND_DEBUG): which toplevel each surface is, where the pointer is on which surface, and which
surface has the keyboard (wl_keyboard.enter), which only the compositor decides.

Rows:
  window-library   Window > Library (the menu opened with Alt+W, its entry clicked) over the
                   Director brings the open Library forward: it gets the keyboard.
  window-director  Window > Director the same way from the Library.
  blocked-click    With a sheet over the Library, a click on the Library leaves the keyboard in
                   the sheet (Escape typed then closes it), and the sheet stands on the Library
                   (xdg_toplevel.set_parent), so the compositor places it over its window.
  keyboard-trips   Ten round trips Window > Director, Window > Library by keys alone (Alt+W, then
                   Return or Down and Return): each brings its window forward; the menu's opening
                   asks for no activation token, and each trip for one of the application's own
                   (and at most one of Qt's, which asks for the menu's own window as the menu closes
                   and the focus goes back to a control there), none left behind for the next trip.

Under KWin (--kwin), on its Wayland session with a virtual screen, the person's keys come through
KWin's fake-input protocol (kwin_fake_keys, built with the tests), and the rows that need no
pointer run: the Library opened by keys (Alt+W, Down, Return), then keyboard-trips.

With --alert, the program is the Library's test program, whose case of an alert due for the
Library while the user works in the Director the rig drives (see run_alert_beneath).

Usage: wayland_activation_test.py [--kwin KWIN_FAKE_KEYS | --alert] APP
Exits 77 (skipped) without root (for the network namespace) or without the compositor, dbus-daemon
or Qt's Wayland platform (or, for KWin, without kwin_fake_keys).
"""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

STEP_S = 20
SCREEN = (1280, 800)
DIRECTOR = "Kestova Director"
LIBRARY = "Kestova Library"

# Linux input event codes (linux/input-event-codes.h).
KEY_LEFTALT, KEY_LEFTSHIFT, KEY_W, KEY_TAB, KEY_SPACE, KEY_ESC = 56, 42, 17, 15, 57, 1
KEY_ENTER, KEY_DOWN = 28, 108
BTN_LEFT = 0x110


def skip(reason):
    print("wayland activation: %s -- skipped" % reason, file=sys.stderr)
    sys.exit(77)


class Failed(Exception):
    pass


class Surface:
    def __init__(self, number):
        self.number = number  # order of creation, for messages
        self.title = None
        self.role = None  # "toplevel" or "popup"
        self.parent = None  # the Surface a toplevel stands on, or a popup's parent
        self.geometry = (0, 0, 0, 0)  # xdg_surface.set_window_geometry
        self.popup_place = None  # xdg_popup.configure: x, y, width, height
        self.mapped = False  # has a role object that was not destroyed
        self.presented = False  # the compositor drew it since it got its role (a frame callback's done)

    def __repr__(self):
        return "%s %d (%s)" % (self.role or "surface", self.number, self.title or "untitled")


REQUEST = re.compile(r"^\[\s*[\d.]+\]\s+->\s+(\w+)@(\d+)\.(\w+)\((.*)\)\s*$")
EVENT = re.compile(r"^\[\s*[\d.]+\]\s+(\w+)@(\d+)\.(\w+)\((.*)\)\s*$")
OBJECT = re.compile(r"(\w+)@(\d+)")


class ProtocolLog:
    """The application's side of the Wayland connection, as WAYLAND_DEBUG prints it."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.partial = ""
        self.count = 0  # protocol lines read
        self.surfaces = {}  # wl_surface id -> Surface (the live object of that id)
        self.by_xdg = {}  # xdg_surface id -> Surface
        self.by_role = {}  # xdg_toplevel or xdg_popup id -> Surface
        self.created = 0
        # Qt and the application's activation each have a wl_pointer and a wl_keyboard, which the
        # compositor tells the same; each focus follows the latest serial either was told, so one
        # that is behind does not undo what the other already heard.
        self.keyboard = None  # the Surface the compositor gave the keyboard
        self.keyboard_serial = -1
        self.pointer = None  # (Surface, x, y) the pointer is on, or None
        self.pointer_serial = -1
        self.pointer_focus = {}  # wl_pointer id -> the Surface it was last told it is on
        self.pointer_frames = []  # line counts at each wl_pointer.frame
        self.frame_callbacks = {}  # wl_callback id -> the Surface that asked for it
        self.tokens = 0  # xdg_activation_v1.get_activation_token requests, by anyone in the process
        self.activations = []  # xdg_activation_v1 ids in the order bound: Qt's own first, then the application's
        self.tokens_by = {}  # xdg_activation_v1 id -> its get_activation_token requests
        self.key_serial = -1  # the latest serial of a key event (press or release) either keyboard was told
        self.token_requests = {}  # xdg_activation_token_v1 id -> whether it was given an input event's serial
        self.token_serial = {}  # token text -> whether its request was given a serial
        self.activated = []  # xdg_activation_v1.activate requests: (Surface, whether its token had a serial)

    def update(self):
        try:
            with open(self.path, errors="replace") as log:
                log.seek(self.offset)
                text = log.read()
                self.offset = log.tell()
        except OSError:
            return
        lines = (self.partial + text).split("\n")
        self.partial = lines.pop()
        for line in lines:
            self.apply(line)

    def surface(self, reference):
        found = OBJECT.match(reference.strip())
        return self.surfaces.get(found.group(2)) if found else None

    def apply(self, line):
        request = REQUEST.match(line)
        event = None if request else EVENT.match(line)
        if not request and not event:
            return
        self.count += 1
        interface, number, message, arguments = (request or event).groups()
        parts = [part.strip() for part in arguments.split(",")] if arguments else []
        if request:
            self.apply_request(interface, number, message, parts)
        else:
            self.apply_event(interface, number, message, parts)

    def apply_request(self, interface, number, message, parts):
        new_id = lambda text: OBJECT.search(text).group(2)
        if interface == "xdg_activation_v1" and message == "get_activation_token":
            self.tokens += 1
            self.tokens_by[number] = self.tokens_by.get(number, 0) + 1
            self.token_requests[new_id(parts[0])] = False
        elif interface == "xdg_activation_token_v1" and message == "set_serial":
            self.token_requests[number] = True
        elif interface == "xdg_activation_v1" and message == "activate":
            self.activated.append((self.surface(parts[1]), self.token_serial.get(parts[0].strip('"'))))
        elif interface == "wl_registry" and message == "bind" and '"xdg_activation_v1"' in parts[1]:
            self.activations.append(re.search(r"@(\d+)", parts[-1]).group(1))
        elif interface == "wl_compositor" and message == "create_surface":
            self.created += 1
            self.surfaces[new_id(parts[0])] = Surface(self.created)
        elif interface == "wl_surface" and message == "destroy":
            self.surfaces.pop(number, None)
        elif interface == "xdg_wm_base" and message == "get_xdg_surface":
            surface = self.surface(parts[1])
            if surface:
                self.by_xdg[new_id(parts[0])] = surface
        elif interface == "xdg_surface" and message == "get_toplevel":
            surface = self.by_xdg.get(number)
            if surface:
                surface.role, surface.mapped, surface.parent, surface.presented = "toplevel", True, None, False
                self.by_role[new_id(parts[0])] = surface
        elif interface == "xdg_surface" and message == "get_popup":
            surface = self.by_xdg.get(number)
            parent = self.by_xdg.get(OBJECT.search(parts[1]).group(2)) if "@" in parts[1] else None
            if surface:
                surface.role, surface.mapped, surface.parent, surface.popup_place = "popup", True, parent, None
                surface.presented = False
                self.by_role[new_id(parts[0])] = surface
        elif interface == "xdg_surface" and message == "set_window_geometry":
            surface = self.by_xdg.get(number)
            if surface:
                surface.geometry = tuple(int(value) for value in parts)
        elif interface == "xdg_surface" and message == "destroy":
            self.by_xdg.pop(number, None)
        elif interface == "xdg_toplevel" and message == "set_title":
            surface = self.by_role.get(number)
            if surface:
                surface.title = ",".join(parts).strip().strip('"')
        elif interface == "xdg_toplevel" and message == "set_parent":
            surface = self.by_role.get(number)
            if surface:
                found = OBJECT.search(parts[0])
                surface.parent = self.by_role.get(found.group(2)) if found else None
        elif interface in ("xdg_toplevel", "xdg_popup") and message == "destroy":
            surface = self.by_role.pop(number, None)
            if surface:
                surface.mapped = False
        elif interface == "wl_surface" and message == "frame":
            surface = self.surfaces.get(number)
            if surface:
                self.frame_callbacks[new_id(parts[0])] = surface

    def apply_event(self, interface, number, message, parts):
        if interface == "wl_keyboard" and message == "key":
            self.key_serial = max(self.key_serial, int(parts[0]))
        elif interface == "wl_keyboard" and message in ("enter", "leave"):
            serial = int(parts[0])
            if serial >= self.keyboard_serial:
                self.keyboard_serial = serial
                self.keyboard = self.surface(parts[1]) if message == "enter" else None
        elif interface == "xdg_activation_token_v1" and message == "done":
            self.token_serial[parts[0].strip('"')] = self.token_requests.get(number, False)
        elif interface == "wl_pointer" and message in ("enter", "leave"):
            serial = int(parts[0])
            surface = self.surface(parts[1]) if message == "enter" else None
            self.pointer_focus[number] = surface
            if serial >= self.pointer_serial:
                self.pointer_serial = serial
                self.pointer = (surface, float(parts[2]), float(parts[3])) if surface else None
        elif interface == "wl_pointer" and message == "motion":
            if self.pointer and self.pointer_focus.get(number) is self.pointer[0]:
                self.pointer = (self.pointer[0], float(parts[1]), float(parts[2]))
        elif interface == "wl_pointer" and message == "frame":
            self.pointer_frames.append(self.count)
        elif interface == "wl_callback" and message == "done":
            surface = self.frame_callbacks.pop(number, None)
            if surface and surface.mapped:
                surface.presented = True
        elif interface == "xdg_popup" and message == "configure":
            surface = self.by_role.get(number)
            if surface:
                surface.popup_place = tuple(int(value) for value in parts)

    def toplevel(self, title):
        for surface in self.surfaces.values():
            if surface.role == "toplevel" and surface.mapped and surface.title == title:
                return surface
        return None

    def toplevels(self):
        return [s for s in self.surfaces.values() if s.role == "toplevel" and s.mapped]


class Desk:
    """A headless mutter on a session bus of the rig's own, its remote-desktop input, and the
    application under it."""

    def __init__(self, app, work, kwin_keys=None):
        self.app_path = app
        self.kwin_keys = kwin_keys  # kwin_fake_keys: the rig runs under KWin
        self.work = work
        self.processes = []
        self.runtime = os.path.join(work, "run")
        os.makedirs(self.runtime, mode=0o700)
        self.display = "wayland-kestova-%d" % os.getpid()
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": os.path.join(work, "home"),
            "XDG_RUNTIME_DIR": self.runtime,
            "LANG": "C.UTF-8",
        }
        # The sanitized build's options, and where test programs record their cases' outcomes, as
        # the test runner gives them.
        self.env.update({name: value for name, value in os.environ.items()
                         if name.endswith("SAN_OPTIONS") or name == "VELK_TEST_RECORD"})
        os.makedirs(self.env["HOME"])
        self.app = None
        self.log = None
        self.input = None
        self.at = None
        self.steps = []  # what the rig did, for its failures

    def start(self, what, command, env, output):
        process = subprocess.Popen(command, env=env, stdout=output, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        self.processes.append(process)
        return process

    def wait(self, what, test, seconds=STEP_S):
        deadline = time.monotonic() + seconds
        while True:
            if self.log:
                self.log.update()
            result = test()
            if result:
                return result
            if self.app and self.app.poll() is not None:
                raise Failed("the application ended (status %s) while waiting for %s" % (self.app.returncode, what))
            if time.monotonic() > deadline:
                raise Failed("timed out waiting for " + what)
            time.sleep(0.02)

    def start_compositor(self):
        bus_socket = os.path.join(self.work, "bus")
        bus_log = open(os.path.join(self.work, "dbus.log"), "w")
        self.start("dbus-daemon", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                   "--address=unix:path=" + bus_socket], self.env, bus_log)
        self.wait("the session bus", lambda: os.path.exists(bus_socket), 10)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + bus_socket
        if self.kwin_keys:
            return self.start_kwin()
        mutter_log = open(os.path.join(self.work, "mutter.log"), "w")
        # Without the animations of its default plugin: a window being scaled as it maps is not where
        # it will be, and the pointer is moved by where windows are.
        self.start("mutter", ["mutter", "--wayland", "--headless", "--no-x11", "--wayland-display=" + self.display,
                              "--virtual-monitor", "%dx%d" % SCREEN],
                   dict(self.env, MUTTER_DEBUG_DISABLE_ANIMATIONS="1", GSETTINGS_BACKEND="memory"), mutter_log)
        socket = os.path.join(self.runtime, self.display)
        self.wait("mutter's Wayland socket", lambda: os.path.exists(socket), STEP_S)
        import dbus  # Debian's python3-dbus

        bus = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])
        name = "org.gnome.Mutter.RemoteDesktop"
        self.wait("mutter's remote desktop on the bus", lambda: bus.name_has_owner(name), STEP_S)
        remote = dbus.Interface(bus.get_object(name, "/org/gnome/Mutter/RemoteDesktop"), name)
        session = bus.get_object(name, remote.CreateSession())
        self.input = dbus.Interface(session, name + ".Session")
        self.input.Start()
        self.dbus = dbus

    def start_kwin(self):
        # A copy of KWin's program without the file capabilities Debian gives it (to raise its own
        # priority), which a sandbox without them refuses to start.
        kwin = os.path.join(self.work, "kwin_wayland")
        shutil.copyfile(shutil.which("kwin_wayland"), kwin)
        os.chmod(kwin, 0o755)
        log = open(os.path.join(self.work, "compositor.log"), "w")
        self.start("kwin_wayland", [kwin, "--virtual", "--no-lockscreen", "--no-global-shortcuts", "--socket", self.display,
                                    "--width", str(SCREEN[0]), "--height", str(SCREEN[1])],
                   dict(self.env, KWIN_WAYLAND_NO_PERMISSION_CHECKS="1", QT_QPA_PLATFORM="offscreen"), log)
        socket = os.path.join(self.runtime, self.display)
        self.wait("KWin's Wayland socket", lambda: os.path.exists(socket), STEP_S)
        self.input = subprocess.Popen([self.kwin_keys], env=dict(self.env, WAYLAND_DISPLAY=self.display),
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log, text=True,
                                      start_new_session=True)
        self.processes.append(self.input)

    def start_app(self, command=None, env=None, pointer=True):
        self.app_log = os.path.join(self.work, "app.log")
        env = dict(self.env, WAYLAND_DISPLAY=self.display, XDG_SESSION_TYPE="wayland", QT_QPA_PLATFORM="wayland",
                   WAYLAND_DEBUG="1", **(env or {}))
        # No session bus for the application: what it starts there is not what is checked.
        env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent/velk-no-session-bus"
        self.app = self.start("kestova", ["unshare", "--net", "--"] + (command or [self.app_path]), env,
                              open(self.app_log, "w"))
        self.log = ProtocolLog(self.app_log)
        self.wait("the Director window", lambda: self.log.toplevel(DIRECTOR))
        if self.kwin_keys:
            # KWin gives a new window the keyboard as it maps it; there is no pointer to place.
            self.wait_keyboard(DIRECTOR)
            return
        # The first key makes the compositor give the virtual keyboard's focus to the window it
        # focused; a lone Shift does nothing in the application.
        self.key(KEY_LEFTSHIFT)
        self.wait("the keyboard in a window", lambda: self.log.keyboard is not None)
        self.focus_by_compositor(DIRECTOR)
        if not pointer:
            return
        # The virtual devices work now (the key arrived): the pointer to the screen's corner, from
        # where every move is one relative motion, which mutter does not accelerate.
        self.input.NotifyPointerMotionRelative(-10.0 * SCREEN[0], -10.0 * SCREEN[1])
        self.at = (0, 0)
        director = self.log.toplevel(DIRECTOR)
        self.wait("the pointer at the Director's corner", lambda: self.log.pointer == (director, 0.0, 0.0))

    def stop(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        for process in reversed(self.processes):
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()

    # --- a person's hands, through the compositor ---

    def key(self, *codes):
        self.steps.append("key %s at log line %d" % (codes, self.log.count if self.log else 0))
        if self.kwin_keys:
            lines = ["%d 1" % code for code in codes] + ["%d 0" % code for code in reversed(codes)]
            self.input.stdin.write("\n".join(lines) + "\nsync\n")
            self.input.stdin.flush()
            if self.input.stdout.readline().strip() != "synced":
                raise Failed("KWin's fake input ended")
            return
        for code in codes:
            self.input.NotifyKeyboardKeycode(self.dbus.UInt32(code), True)
        for code in reversed(codes):
            self.input.NotifyKeyboardKeycode(self.dbus.UInt32(code), False)

    def move(self, x, y):
        """The pointer to (x, y) of the screen (or one pixel right of it); returns where the
        application was told it is: its surface and place on it, or None on no window of the
        application. The compositor may still be telling of an earlier change (a menu that closed
        under the pointer), so a place counts once a nudge of one pixel is seen to move the pointer
        by that pixel on the same surface."""
        x = max(0, min(SCREEN[0] - 2, int(x)))
        y = max(0, min(SCREEN[1] - 1, int(y)))
        self.log.update()
        frames = len(self.log.pointer_frames)
        self.relative(x, y)
        self.wait_pointer_frame(frames, 2)
        candidate = self.log.pointer
        for _ in range(10):
            step = 1 if self.at[0] == x else -1
            frames = len(self.log.pointer_frames)
            self.relative(self.at[0] + step, y)
            self.wait_pointer_frame(frames, 2)
            now = self.log.pointer
            if candidate and now and now[0] is candidate[0] and (now[1], now[2]) == (candidate[1] + step, candidate[2]):
                return now
            if candidate is None and now is None:
                return None
            candidate = now
        raise Failed("the pointer's place never settled")

    def relative(self, x, y):
        """One relative motion to (x, y) of the screen (mutter does not accelerate them)."""
        self.input.NotifyPointerMotionRelative(float(x - self.at[0]), float(y - self.at[1]))
        self.steps.append("move %s -> %s at log line %d" % (self.at, (x, y), self.log.count))
        self.at = (x, y)

    def wait_pointer_frame(self, after, seconds):
        try:
            self.wait("the pointer's news", lambda: len(self.log.pointer_frames) > after, seconds)
        except Failed:
            pass  # on the desktop's background, where the application is told nothing

    def window_menu(self, window):
        """The Window menu shown over `window` and ready for keys: mutter gives the popup the keyboard
        (its grab); KWin keeps the keyboard on the window, and Qt hands its keys to the popup."""
        return next((s for s in self.log.surfaces.values() if s.role == "popup" and s.mapped and s.parent is window
                     and s.presented and (self.kwin_keys or self.log.keyboard is s)), None)

    def open_window_menu(self, window, what):
        """Alt+W in `window` until its Window menu shows. Qt takes a window's shortcuts once it has
        made that window its active one, a moment after the compositor's keyboard focus came; keys
        typed before that open the other window's menu, or none. As a person would: Escape on a
        wrong menu, and the keys again."""
        for attempt in range(3):
            self.wait_keyboard(window.title)
            self.key(KEY_LEFTALT, KEY_W)
            right = lambda: self.window_menu(window)
            wrong = lambda: next((s for s in self.log.surfaces.values() if s.role == "popup" and s.mapped
                                  and s.parent is not window and s.presented), None)
            try:
                found = self.wait("the Window menu", lambda: right() or wrong(), 5)
            except Failed:
                continue
            if found is right():
                return found
            self.steps.append("the menu opened on %s; Escape" % found.parent)
            self.key(KEY_ESC)
            self.wait("the wrong menu to close", lambda: not found.mapped)
        raise Failed("the Window menu never opened over '%s' on %s" % (window.title, what))

    def click(self):
        self.input.NotifyPointerButton(BTN_LEFT, True)
        self.input.NotifyPointerButton(BTN_LEFT, False)

    # --- what the application was told ---

    def wait_keyboard(self, title, seconds=STEP_S):
        def there():
            focus = self.log.keyboard
            return focus is not None and focus.title == title
        try:
            self.wait("the keyboard in '%s'" % title, there, seconds)
        except Failed:
            raise Failed("the keyboard is in %s, not in '%s'" % (self.log.keyboard, title))

    def focus_by_compositor(self, title):
        """The keyboard to the window `title` the compositor's own way, whatever the application
        does: mutter's cycle-windows (Alt+Escape) until that window has it."""
        for _ in range(4):
            if self.log.keyboard is not None and self.log.keyboard.title == title:
                return
            before = self.log.keyboard
            keys = self.log.key_serial
            self.key(KEY_LEFTALT, KEY_ESC)
            try:
                self.wait("the compositor to move the keyboard", lambda: self.log.keyboard is not before, 5)
                # The cycle may still be on its way (the keyboard may have moved for another reason,
                # a sheet that closed): the keys' last event, Alt's release, comes after the cycle.
                self.wait("the cycle's end", lambda: self.log.key_serial > keys and self.log.keyboard_serial < self.log.key_serial, 5)
            except Failed:
                pass
        self.wait_keyboard(title, 1)

    def origin(self, surface):
        """Where `surface` is on the screen: the pointer is moved over likely places until the
        compositor says it is on it."""
        width, height = SCREEN
        for fx, fy in ((0.5, 0.5), (0.25, 0.25), (0.75, 0.75), (0.25, 0.75), (0.75, 0.25), (0.1, 0.1), (0.9, 0.9),
                       (0.1, 0.9), (0.9, 0.1)):
            place = self.move(width * fx, height * fy)
            if place and place[0] is surface:
                return (self.at[0] - place[1], self.at[1] - place[2])
        raise Failed("the pointer found %s nowhere on the screen" % surface)

    def choose_from_window_menu(self, window, entry):
        """Window menu by Alt+W in `window`, then a click on its entry (0: Director, 1: Library),
        once the compositor shows the menu and has given it the keyboard (its grab)."""
        self.wait_keyboard(window.title)
        origin = self.origin(window)
        self.key(KEY_LEFTALT, KEY_W)
        menu = self.wait("the Window menu", lambda: next(
            (s for s in self.log.surfaces.values() if s.role == "popup" and s.mapped and s.parent is window
             and s.popup_place and s.presented and self.log.keyboard is s), None))
        x, y, width, height = menu.popup_place
        left = origin[0] + window.geometry[0] + x - menu.geometry[0]
        top = origin[1] + window.geometry[1] + y - menu.geometry[1]
        place = self.move(left + width / 2, top + height * (2 * entry + 1) / 4)
        if not place or place[0] is not menu:
            raise Failed("the pointer is on %s, not on the Window menu" % (place and place[0]))
        self.click()

    def click_on(self, window):
        """A click on a place of `window` that the pointer finds on it (not on a window above)."""
        origin = self.origin(window)
        _, _, width, height = window.geometry
        for fx, fy in ((0.05, 0.95), (0.95, 0.95), (0.05, 0.5), (0.95, 0.5), (0.5, 0.95)):
            place = self.move(origin[0] + width * fx, origin[1] + height * fy)
            if place and place[0] is window:
                self.click()
                return
        raise Failed("no place of %s is free to click" % window)


def row_window_director(desk):
    desk.focus_by_compositor(LIBRARY)
    desk.choose_from_window_menu(desk.log.toplevel(LIBRARY), 0)
    desk.wait_keyboard(DIRECTOR)


def row_window_library(desk):
    desk.focus_by_compositor(DIRECTOR)
    desk.choose_from_window_menu(desk.log.toplevel(DIRECTOR), 1)
    desk.wait_keyboard(LIBRARY)


def row_blocked_click(desk):
    desk.focus_by_compositor(LIBRARY)
    library = desk.log.toplevel(LIBRARY)
    before = set(id(s) for s in desk.log.toplevels())
    # From the project list (the Library's home), Tab reaches New, and Space opens its sheet.
    desk.key(KEY_TAB)
    desk.key(KEY_SPACE)
    sheet = desk.wait("the New Project sheet", lambda: next(
        (s for s in desk.log.toplevels() if id(s) not in before and s.title), None))
    if sheet.parent is not library:
        raise Failed("the sheet stands on %s, not on the Library (no xdg_toplevel.set_parent)" % sheet.parent)
    desk.wait_keyboard(sheet.title)
    # The compositor gives the window clicked the keyboard first; then it must come back.
    before = desk.log.keyboard_serial
    desk.click_on(library)
    desk.wait("the click to move the keyboard", lambda: desk.log.keyboard_serial > before)
    desk.wait_keyboard(sheet.title)
    desk.key(KEY_ESC)
    desk.wait("Escape to close the sheet", lambda: not sheet.mapped)


def row_keyboard_trips(desk):
    desk.focus_by_compositor(LIBRARY)
    # A first trip unchecked: what the rows before asked for is through by its end.
    for trip in range(-1, 10):
        for window, target, keys in ((LIBRARY, DIRECTOR, (KEY_ENTER,)), (DIRECTOR, LIBRARY, (KEY_DOWN, KEY_ENTER))):
            desk.wait_keyboard(window)
            source = desk.log.toplevel(window)
            asked = desk.log.tokens
            ours = desk.log.activations[-1]
            ours_asked = desk.log.tokens_by.get(ours, 0)
            desk.open_window_menu(source, "trip %d to '%s'" % (trip + 1, target))
            if desk.log.tokens != asked and trip >= 0:
                raise Failed("trip %d: opening the Window menu asked for %d activation tokens"
                             % (trip + 1, desk.log.tokens - asked))
            for code in keys:
                desk.key(code)
            try:
                desk.wait_keyboard(target)
            except Failed as failure:
                raise Failed("trip %d to '%s': %s" % (trip + 1, target, failure))
            desk.wait("the application's activation token", lambda: desk.log.tokens_by.get(ours, 0) > ours_asked)
            if trip >= 0 and (desk.log.tokens_by.get(ours, 0) - ours_asked != 1 or desk.log.tokens - asked > 2):
                raise Failed("trip %d to '%s' asked for %d activation tokens, %d of them the application's"
                             % (trip + 1, target, desk.log.tokens - asked, desk.log.tokens_by.get(ours, 0) - ours_asked))


def run_alert_beneath(desk, tests):
    """The Library test program's case of the pairing's alert due while the user works in the
    Director: Space typed there must press the Director's control, the request for attention must
    name the Library, with a token made from no input event, and once the keyboard is brought to the
    Library (mutter's Alt+Escape) the alert must have it, where Return closes it (the program checks
    what it can see)."""
    suppressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wayland_test_program.lsan")
    lsan = ":".join(filter(None, (desk.env.get("LSAN_OPTIONS"), "suppressions=" + suppressions)))
    desk.start_app([tests, "--gtest_filter=LibraryWindowTest.AlertBeneathOnWayland*"],
                   {"VELK_WAYLAND_RIG": "1", "LSAN_OPTIONS": lsan}, pointer=False)
    said = lambda line: line in open(desk.app_log, errors="replace").read()

    def keys_until(keys, line, tries, seconds):
        """`keys` typed again until the program prints `line`, as a person tries again."""
        for _ in range(tries):
            desk.key(*keys)
            try:
                return desk.wait(line, lambda: said(line), seconds)
            except Failed:
                pass
        raise Failed("the program never printed '%s'" % line)

    # Qt makes the Director its active window a moment after the compositor gave it the keyboard: a
    # Return typed before that presses nothing. The first that presses the Director's control makes
    # the alert due.
    keys_until((KEY_ENTER,), "rig: the alert is due", 20, 1)
    desk.wait_keyboard(DIRECTOR)
    # Space: a Return at once after the last one's release would carry its time, as a held key's
    # repeat does, and be taken for one.
    desk.key(KEY_SPACE)
    desk.wait("the program's question", lambda: said("rig: come to the Library"))
    library = desk.log.toplevel(LIBRARY)
    try:
        desk.wait("the request for attention", lambda: [
            surface for surface, serial in desk.log.activated if surface is library and serial is False])
    except Failed:
        raise Failed("no request for attention in the Library's name: %s" % desk.log.activated)
    keys_until((KEY_LEFTALT, KEY_ESC), "rig: the alert has the keyboard", 4, 5)
    desk.key(KEY_ENTER)
    desk.wait("the test program's end", lambda: desk.app.poll() is not None)
    if desk.app.returncode != 0:
        raise Failed("the test program failed (status %d)" % desk.app.returncode)


def run_rows(desk, kwin_keys):
    """The application's rows; returns how many failed."""
    desk.start_app()
    # The Library, opened once from the Director's Window menu (by keys under KWin).
    if kwin_keys:
        desk.open_window_menu(desk.log.toplevel(DIRECTOR), "opening the Library")
        desk.key(KEY_DOWN)
        desk.key(KEY_ENTER)
    else:
        desk.choose_from_window_menu(desk.log.toplevel(DIRECTOR), 1)
    desk.wait("the Library window", lambda: desk.log.toplevel(LIBRARY))
    # A new window takes the keyboard as the compositor maps it.
    desk.wait_keyboard(LIBRARY)
    rows = (("window-director", row_window_director), ("window-library", row_window_library),
            ("blocked-click", row_blocked_click), ("keyboard-trips", row_keyboard_trips))
    failures = 0
    for name, row in rows:
        if kwin_keys and name != "keyboard-trips":
            continue
        started = time.monotonic()
        try:
            row(desk)
            print("%s: passed (%.1f s)" % (name, time.monotonic() - started))
        except Failed as failure:
            failures += 1
            print("FAILED %s: %s" % (name, failure), file=sys.stderr)
    return failures


def main():
    arguments = sys.argv[1:]
    kwin_keys = None
    alert_tests = None
    if arguments[:1] == ["--kwin"] and len(arguments) == 3:
        kwin_keys = arguments[1]
        arguments = arguments[2:]
        if not kwin_keys or not os.access(kwin_keys, os.X_OK):
            skip("kwin_fake_keys is not built (plasma-wayland-protocols is missing: run scripts/setup)")
    elif arguments[:1] == ["--alert"] and len(arguments) == 2:
        alert_tests = arguments = arguments[1:]
    if len(arguments) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    app = os.path.realpath(arguments[0])
    if os.geteuid() != 0:
        skip("a network namespace of its own needs root")
    for tool in ("kwin_wayland" if kwin_keys else "mutter", "dbus-daemon", "unshare"):
        if not shutil.which(tool):
            skip("%s is missing (run scripts/setup)" % tool)
    if not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so"):
        skip("Qt's Wayland platform is missing (run scripts/setup)")
    try:
        import dbus  # noqa: F401
    except ImportError:
        skip("python3-dbus is missing (run scripts/setup)")
    if not os.access(app, os.X_OK):
        skip("%s is not built" % app)

    keep = os.environ.get("VELK_KEEP_RIG")
    work = tempfile.mkdtemp(prefix="velk-wayland-activation-")
    desk = Desk(app, work, kwin_keys)
    failures = 0
    try:
        desk.start_compositor()
        if alert_tests:
            run_alert_beneath(desk, app)
            print("alert-beneath: passed")
        else:
            failures += run_rows(desk, kwin_keys)
    except Failed as failure:
        failures += 1
        print("FAILED: %s" % failure, file=sys.stderr)
    finally:
        desk.stop()
        with open(os.path.join(work, "steps.txt"), "w") as steps:
            steps.write("\n".join(desk.steps) + "\n")
        if failures:
            subprocess.run(["tail", "-n", "15", os.path.join(work, "compositor.log" if kwin_keys else "mutter.log")])
            # What the program printed itself, beside its protocol log.
            with open(os.path.join(work, "app.log"), errors="replace") as printed:
                print("".join([line for line in printed if not line.startswith("[")][-40:]), file=sys.stderr)
        if keep:
            print("rig files kept in " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    if failures:
        return 1
    print("wayland activation: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
