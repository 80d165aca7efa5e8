#!/usr/bin/python3
"""The long-show soak: the application on a virtual display, in the demo lab with eight simulated
phones streaming previews, for --minutes minutes, with (where installed) a screen reader running the
whole time. It prints, never asserts:
  - resident memory (and its anonymous part) at each minute, its slope over the last half of the run
    and its growth from the first minute to the last;
  - the key-to-action time of Escape on an open menu, Space (CUT) and a list key (Down or Up in the
    Director's edit list), median and worst, in the first and in the last minute;
  - the accessibility bridge's time-outs: the application's "keyEventError ... NoReply" lines, by
    minute, each counted with the key typed last before it;
  - the CPU share of the application and of Orca, and Orca's resident memory, by minute.
Every ten seconds it cuts (Space) and moves in the edit list; every thirty it opens the Window menu
(Alt+W) and closes it (Escape); every --restart-minutes it restarts the desk's avahi-daemon.

Key-to-action is the time from the key press the X server was given (XTest) to the end of the
application's handling of it, which the application reports on standard output when VELK_REPORT_KEYS
is set (app/key_time_probe): both read the same monotonic clock.

Usage (root; from the build's tree, after `cmake --build build/release --target kestova`):
  bench/soak_bench.py [--minutes N] [--orca auto|off] [--heaptrack FILE] [--out DIR] [--app PATH]
The program starts itself again inside scripts/lab-demo (eight phones) and tests/support/on_xvfb
(a display with a window manager and a screen reader's session: session bus, accessibility bus and
registry, Qt's bridge on). With --orca auto (the default) Orca runs with speech off when it is
installed; --orca off leaves the bridge on with the session's own listener only. --heaptrack runs
the application under heaptrack, writing FILE (heaptrack adds a suffix).
"""

import argparse
import ctypes
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DIRECTOR = "Kestova Director"
PHONES = 8
STEP_S = 60
KEY_SETTLE_S = 1.5
ORCA = shutil.which("orca") or "/usr/bin/orca"
ORCA_RENAMED = ("import sys; path = %r; sys.argv[0] = path; "
                "code = open(path).read().replace(\"setProcessName('orca')\", \"setProcessName('soak-orca')\"); "
                "exec(compile(code, path, 'exec'), {'__name__': '__main__'})" % ORCA)  # the bridge gives up on a reader's answer well within this


def orca_interpreter():
    """The Python that Orca's own first line names: its modules (pyatspi) are installed for that one,
    not necessarily for the Python running this script (a pyenv shim, say)."""
    try:
        with open(ORCA) as script:
            first = script.readline()
    except OSError:
        return sys.executable
    return first[2:].split()[0] if first.startswith("#!") and first[2:].split() else sys.executable


def log(text):
    print("soak: " + text, file=sys.stderr, flush=True)


# --- keys through XTest, timed on the monotonic clock ---

class XKeys:
    def __init__(self, display):
        self.x = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XStringToKeysym.restype = ctypes.c_ulong
        self.x.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.display = self.x.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open display " + display)

    def code(self, name):
        return self.x.XKeysymToKeycode(self.display, self.x.XStringToKeysym(name.encode()))

    def press(self, *names):
        """Presses NAMES in order and releases them in reverse; returns the monotonic ms of the last press."""
        codes = [self.code(name) for name in names]
        pressed = 0.0
        for code in codes:
            pressed = time.monotonic_ns() / 1e6
            self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
            self.x.XFlush(self.display)
        for code in reversed(codes):
            self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x.XFlush(self.display)
        return pressed


# --- the application's reports ---

class AppOutput:
    """Reads the application's standard output (key times) and standard error (bridge time-outs)."""

    def __init__(self, process, stderr_copy):
        self.lock = threading.Lock()
        self.keys = []  # (name, monotonic ms)
        self.timeouts = []  # (monotonic s, the key typed last before it)
        self.typing = "start-up"
        self.stderr_copy = stderr_copy
        threading.Thread(target=self._read_out, args=(process.stdout,), daemon=True).start()
        threading.Thread(target=self._read_err, args=(process.stderr,), daemon=True).start()

    def _read_out(self, stream):
        for line in stream:
            parts = line.split()
            if len(parts) == 3 and parts[0] == "key":
                with self.lock:
                    self.keys.append((parts[1], float(parts[2])))

    def _read_err(self, stream):
        for line in stream:
            self.stderr_copy.write(line)
            self.stderr_copy.flush()
            if "keyEventError" in line and "NoReply" in line:
                with self.lock:
                    self.timeouts.append((time.monotonic(), self.typing))

    def last_key_after(self, name, since_ms):
        with self.lock:
            times = [at for key, at in self.keys if key == name and at >= since_ms]
        return max(times) if times else None


# --- processes and memory ---

def descendants(pid):
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except (OSError, IndexError):
            continue
    found, stack = [], [pid]
    while stack:
        for child in children.get(stack.pop(), []):
            found.append(child)
            stack.append(child)
    return found


def comm(pid):
    try:
        with open("/proc/%d/comm" % pid) as source:
            return source.read().strip()
    except OSError:
        return ""


def memory_kib(pid):
    """Resident and anonymous memory of PID in KiB (smaps_rollup), or None when it is gone."""
    values = {}
    try:
        with open("/proc/%d/smaps_rollup" % pid) as source:
            for line in source:
                parts = line.split()
                if len(parts) >= 2 and parts[0].endswith(":") and parts[1].isdigit():
                    values[parts[0][:-1]] = int(parts[1])
    except OSError:
        return None
    return values.get("Rss", 0), values.get("Anonymous", 0)


def cpu_seconds(pid):
    """User and system time PID has used, in seconds, or None when it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return None


def slope_per_minute(points):
    """Least-squares slope of (minute, value) points."""
    if len(points) < 2:
        return 0.0
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    den = sum((x - mx) ** 2 for x in xs)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / den if den else 0.0


def desk_avahi_pids():
    own = os.readlink("/proc/self/ns/net")
    pids = []
    for entry in os.listdir("/proc"):
        if entry.isdigit() and comm(int(entry)) == "avahi-daemon":
            try:
                if os.readlink("/proc/%s/ns/net" % entry) == own:
                    pids.append(int(entry))
            except OSError:
                continue
    return pids


def restart_avahi(work, started):
    """Ends the desk's avahi-daemon and starts one again, as the lab started it."""
    for pid in desk_avahi_pids():
        try:
            os.kill(pid, signal.SIGTERM)
        except OSError:
            pass
    deadline = time.monotonic() + 10
    while desk_avahi_pids() and time.monotonic() < deadline:
        time.sleep(0.1)
    conf = os.path.join(work, "desk", "avahi.conf")
    script = ('set -e; mount -t tmpfs velk-lab-run /run; mkdir -p /run/avahi-daemon /run/dbus; '
              'if [ -d /etc/avahi/services ]; then mount -t tmpfs velk-lab-services /etc/avahi/services; fi; '
              'exec avahi-daemon --no-chroot --no-drop-root --no-rlimits -f "$1"')
    started.append(subprocess.Popen(["unshare", "--mount", "--propagation", "private", "--", "sh", "-c", script,
                                     "sh", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))


# --- the run inside the lab and the display ---

class Soak:
    def __init__(self, args):
        self.args = args
        self.out = os.path.abspath(args.out)
        os.makedirs(self.out, exist_ok=True)
        self.map_file = os.path.join(self.out, "widgets.json")
        home = os.path.join(self.out, "home")
        shutil.rmtree(home, ignore_errors=True)
        os.makedirs(os.path.join(home, "data", "Velk"))
        # A library with one project, which the Director selects.
        with open(os.path.join(home, "data", "Velk", "library.json"), "w") as library:
            json.dump({"projects": [{"id": "0b4e7f52-6c1d-4a8e-9d3f-5e2a7c1b9f40", "name": "Soak Show", "revision": 1,
                                     "takes": []}]}, library)
        self.env = dict(os.environ, HOME=home, LANG="C.UTF-8", QT_QPA_PLATFORM="xcb", VELK_WIDGET_MAP=self.map_file,
                        VELK_REPORT_KEYS="1", XDG_DATA_HOME=os.path.join(home, "data"),
                        XDG_CONFIG_HOME=os.path.join(home, "config"))
        self.children = []
        self.orca_pid = None
        self.app = None
        self.app_pid = None
        self.keys = XKeys(os.environ["DISPLAY"])
        self.timings = {}  # (minute, key) -> [ms]

    def widgets(self):
        try:
            with open(self.map_file) as source:
                return json.load(source)
        except (OSError, ValueError):
            return []

    def find(self, **query):
        return [w for w in self.widgets() if all(w.get(k) == v for k, v in query.items())]

    def wait(self, what, test, seconds=60):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            result = test()
            if result:
                return result
            if self.app.poll() is not None:
                raise RuntimeError("the application ended while waiting for " + what)
            time.sleep(0.25)
        raise RuntimeError("timed out waiting for " + what)

    def click(self, widget):
        x, y, w, h = widget["rect"]
        subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2), "click", "1"], check=True)

    def start_orca(self):
        if self.args.orca == "off" or not shutil.which("orca"):
            log("no screen reader: " + ("--orca off" if self.args.orca == "off" else "orca is not installed"))
            return False
        prefs = os.path.join(self.out, "orca")
        os.makedirs(prefs, exist_ok=True)
        # Orca ends at its start when another Orca of the same user runs anywhere on the machine, and
        # with --replace it kills them all: this one runs in a process namespace of its own, under
        # another process name, so it neither meets nor is met by any other.
        orca = subprocess.Popen(["unshare", "--pid", "--fork", "--kill-child", "--mount-proc", orca_interpreter(), "-c",
                                 ORCA_RENAMED, "--disable", "speech", "--disable", "braille", "--user-prefs", prefs],
                                env=self.env, stdout=subprocess.DEVNULL,
                                stderr=open(os.path.join(self.out, "orca.err"), "w"))
        self.children.append(orca)
        self.orca_pid = orca.pid
        time.sleep(5)  # Orca registers its listeners with the registry as it starts
        if orca.poll() is not None:
            raise RuntimeError("orca ended at its start (see orca.err)")
        log("Orca runs with speech off")
        return True

    def start_app(self):
        command = [self.args.app]
        if self.args.heaptrack:
            command = ["heaptrack", "-o", os.path.abspath(self.args.heaptrack)] + command
        self.app = subprocess.Popen(command, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                    bufsize=1)
        self.output = AppOutput(self.app, open(os.path.join(self.out, "app.err"), "w"))
        self.app_pid = self.app.pid
        if self.args.heaptrack:
            self.app_pid = self.wait("the application under heaptrack", lambda: next(
                (pid for pid in [self.app.pid] + descendants(self.app.pid) if comm(pid) == os.path.basename(self.args.app)[:15]), None))

    def set_up_show(self):
        self.wait("the Director", lambda: self.find(window=DIRECTOR, name="wallCell1"))
        self.wait("eight cameras", lambda: self.find(window=DIRECTOR, text="%d CAMERAS" % PHONES), seconds=180)
        self.click(self.wait("Start Director Session", lambda: self.find(text="Start Director Session", enabled=True))[0])
        self.wait("the session", lambda: self.find(text="Marker", enabled=True))
        for k in (1, 2):
            self.click(self.find(window=DIRECTOR, name="wallCell%d" % k)[0])
            self.wait("CUT", lambda: self.find(text="CUT", enabled=True))
            self.press("setup", "space")
            time.sleep(0.5)
        self.click(self.find(text="Marker", enabled=True)[0])  # shows the edit list
        for _ in range(60):
            if self.find(name="editDecisions", focused=True):
                return
            self.press("setup", "Tab")
            time.sleep(0.3)
        raise RuntimeError("the edit list never took the focus")

    def press(self, label, *keys):
        self.output.typing = label
        return self.keys.press(*keys)

    def timed(self, minute, label, qt_name, *keys):
        since = self.press(label, *keys)
        time.sleep(KEY_SETTLE_S)
        done = self.output.last_key_after(qt_name, since)
        if done is not None:
            self.timings.setdefault((minute, label), []).append(done - since)
        else:
            self.timings.setdefault((minute, label + " lost"), []).append(0)

    def run(self):
        started = time.monotonic()
        reader = self.start_orca()
        self.start_app()
        self.set_up_show()
        log("the show runs for %d minutes (app pid %d)" % (self.args.minutes, self.app_pid))
        samples = []  # (minute, rss, anon, app CPU share, Orca's CPU share or None, Orca's resident KiB or None)
        orca = next((pid for pid in descendants(self.orca_pid) if comm(pid) == "soak-orca"), None) if self.orca_pid else None
        used = (cpu_seconds(self.app_pid), cpu_seconds(orca) if orca else None)
        restarts = []
        begin = time.monotonic()
        list_key = "Down"
        for minute in range(self.args.minutes):
            minute_start = begin + minute * STEP_S
            if minute and self.args.restart_minutes and minute % self.args.restart_minutes == 0:
                restart_avahi(os.environ["VELK_DEMO_WORK"], restarts)
            for tick in range(6):
                while time.monotonic() < minute_start + tick * 10 + 1:
                    time.sleep(0.05)
                if self.app.poll() is not None:
                    raise RuntimeError("the application ended (status %s)" % self.app.returncode)
                self.timed(minute, "Space", "Space", "space")
                self.timed(minute, "list key", list_key, list_key)
                list_key = "Up" if list_key == "Down" else "Down"
                if tick % 3 == 0:
                    self.press("Alt+W", "Alt_L", "w")
                    time.sleep(0.7)
                    self.timed(minute, "Escape", "Esc", "Escape")
            while time.monotonic() < minute_start + STEP_S:
                time.sleep(0.05)
            memory = memory_kib(self.app_pid)
            if memory is None:
                raise RuntimeError("the application is gone")
            now_used = (cpu_seconds(self.app_pid), cpu_seconds(orca) if orca else None)
            share = [None if a is None or b is None else 100 * (b - a) / STEP_S for a, b in zip(used, now_used)]
            used = now_used
            orca_memory = memory_kib(orca) if orca else None
            samples.append((minute + 1, memory[0], memory[1], share[0], share[1], orca_memory[0] if orca_memory else None))
            with self.output.lock:
                timeouts = len(self.output.timeouts)
            log("minute %d: resident %.1f MiB, anonymous %.1f MiB, bridge time-outs so far %d" %
                (minute + 1, memory[0] / 1024, memory[1] / 1024, timeouts))
        self.report(samples, begin, reader, time.monotonic() - started)

    def report(self, samples, begin, reader, seconds):
        print("soak: %d minutes, %d phones, %s, app %s%s" % (
            self.args.minutes, PHONES, "Orca (speech off)" if reader else "no Orca (bridge on)", self.args.app,
            " under heaptrack" if self.args.heaptrack else ""))
        print("minute  resident MiB  anonymous MiB  bridge time-outs  app CPU %  Orca CPU %  Orca resident MiB")
        with self.output.lock:
            timeouts = list(self.output.timeouts)
        for minute, rss, anon, app_cpu, orca_cpu, orca_rss in samples:
            count = sum(1 for t, _ in timeouts if begin + (minute - 1) * STEP_S <= t < begin + minute * STEP_S)
            print("%6d  %12.1f  %13.1f  %16d  %9s  %9s  %17s" % (
                minute, rss / 1024, anon / 1024, count, "-" if app_cpu is None else "%.0f" % app_cpu,
                "-" if orca_cpu is None else "%.1f" % orca_cpu, "-" if orca_rss is None else "%.1f" % (orca_rss / 1024)))
        half = samples[len(samples) // 2:]
        print("slope over the last half (minutes %d-%d): resident %.0f KiB/min, anonymous %.0f KiB/min" % (
            half[0][0], half[-1][0], slope_per_minute([(row[0], row[1]) for row in half]),
            slope_per_minute([(row[0], row[2]) for row in half])))
        print("growth from minute 1 to %d: resident %+.1f MiB, anonymous %+.1f MiB; last half %+.1f MiB" % (
            samples[-1][0], (samples[-1][1] - samples[0][1]) / 1024, (samples[-1][2] - samples[0][2]) / 1024,
            (half[-1][1] - half[0][1]) / 1024))
        last = self.args.minutes - 1
        print("key-to-action ms   first minute: median / max     last minute: median / max   (first/last median)")
        for label in ("Escape", "Space", "list key"):
            first, final = self.timings.get((0, label), []), self.timings.get((last, label), [])
            if not first or not final:
                print("%-18s not measured" % label)
                continue
            f, l = statistics.median(first), statistics.median(final)
            print("%-18s %14.1f / %-8.1f %18.1f / %-8.1f (%.2f)" % (label, f, max(first), l, max(final),
                                                                     l / f if f else 0))
        lost = sum(len(v) for k, v in self.timings.items() if k[1].endswith(" lost"))
        print("keys whose handling was never reported: %d" % lost)
        after = {}
        for _, key in timeouts:
            after[key] = after.get(key, 0) + 1
        print("bridge time-outs (keyEventError ... NoReply): %d in all%s" % (len(timeouts), "".join(
            "; %d after %s" % (count, key) for key, count in sorted(after.items()))))
        print("run took %.1f minutes; the machine is shared, so times are loose" % (seconds / 60))

    def stop(self):
        if self.app and self.app.poll() is None:
            self.app.terminate()
            try:
                self.app.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.app.kill()
        for child in self.children:
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    child.kill()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--minutes", type=int, default=10)
    parser.add_argument("--orca", choices=["auto", "off"], default="auto")
    parser.add_argument("--restart-minutes", type=int, default=4, help="restart the desk's avahi-daemon this often")
    parser.add_argument("--heaptrack", default=None)
    parser.add_argument("--out", default=None, help="keep the run's files (app.err, widget map) here")
    parser.add_argument("--app", default=os.path.join(ROOT, "build", "release", "src", "app", "kestova"))
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.minutes < 2:
        parser.error("--minutes must be 2 or more")
    if not args.inside:
        if os.geteuid() != 0:
            log("the network lab needs root")
            return 77
        for tool in ("Xvfb", "xdotool", "openbox", "ffmpeg"):
            if not shutil.which(tool):
                log("'%s' is missing (run scripts/setup)" % tool)
                return 77
        if not os.access(args.app, os.X_OK):
            log(args.app + " is not built")
            return 77
        out = args.out or tempfile.mkdtemp(prefix="kestova-soak.")
        argv = [sys.executable, os.path.abspath(__file__), "--inside", "--minutes", str(args.minutes),
                "--orca", args.orca, "--restart-minutes", str(args.restart_minutes), "--out", out,
                "--app", os.path.abspath(args.app)]
        if args.heaptrack:
            argv += ["--heaptrack", os.path.abspath(args.heaptrack)]
        log("files of this run: " + out)
        return subprocess.call([os.path.join(ROOT, "scripts", "lab-demo"), "--phones", str(PHONES), "--",
                                os.path.join(ROOT, "tests", "support", "on_xvfb"), "--window-manager",
                                "--screen-reader", "GNOME"] + argv)
    soak = Soak(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        soak.run()
        return 0
    except RuntimeError as error:
        log(str(error))
        return 1
    finally:
        soak.stop()


if __name__ == "__main__":
    sys.exit(main())
