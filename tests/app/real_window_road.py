#!/usr/bin/python3
"""The whole road through the real windows, driven from outside like a person would.

Runs inside the demo lab's desk (real_window_test.sh starts it through scripts/lab-demo), on a
virtual X display. It starts the application, and with xdotool: opens the Library from the
Window menu, opens Collect, picks each phone, confirms its fingerprint, types its code and pairs,
then with the keyboard alone (Tab, arrows, Return) selects the take and runs Download Take and
Export for Resolve, into a folder typed into the file panel. Everything is checked from outside
the application: the file panel's tool buttons (their symbols stand out from their faces by 3:1
on the screen), the files on disk (digests equal to the phones' recordings), each phone's request log, xmllint on the export, the window titles by
xwininfo, a second launch that raises the first and ends with status 0, and Ctrl+Q in the Wi-Fi
QR sheet, which ends the application with every copy in the library on disk. Where the keyboard is
after each job ends (a pairing, Download Take, Use as reference, an export, an export that fails on
a disk mounted read-only and the OK of its alert): on some control, never a guarded one, and where
the road knows it, on the control it chose last. With --again it is the
next run of the same phones (started again with their kept identity) and the same home: the phones
pair again, the take has nothing left to download and exports again. With --screen-reader (a
listener on the accessibility bus, Qt's bridge on) it runs the keyboard's rows of the first run.

Where to click comes from the widget map the application writes when VELK_WIDGET_MAP is set.
Screenshots of each step are saved as review material in --out/screenshots.
"""

import argparse
import glob
import hashlib
import json
import os
import shutil
import subprocess
import sys
import time

STEP_S = 30
LIBRARY = "Kestova Library"
DIRECTOR = "Kestova Director"


class Road:
    def __init__(self, args):
        self.args = args
        self.out = os.path.abspath(args.out)
        self.home = os.path.join(self.out, "home")
        self.map_file = os.path.join(self.out, "widgets.json")
        self.shots = os.path.abspath(args.shots) if args.shots else os.path.join(self.out, "screenshots")
        self.shot_count = 0
        shutil.rmtree(self.shots, ignore_errors=True)
        self.run_name = "again" if args.again else "first"
        if os.path.exists(self.map_file):
            os.remove(self.map_file)  # the map of an earlier run is no view of this one
        for folder in (self.home, self.shots):
            os.makedirs(folder, exist_ok=True)
        runtime = os.path.join(self.out, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        os.chmod(runtime, 0o700)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "DISPLAY": args.display,
            "XDG_RUNTIME_DIR": runtime,
            "QT_QPA_PLATFORM": "xcb",
            "LANG": "C.UTF-8",
            # GNOME's window manager runs on GNOME.
            "XDG_CURRENT_DESKTOP": "GNOME" if args.window_manager == "mutter" else "",
            "VELK_WIDGET_MAP": self.map_file,
            # No session bus: the export's reveal falls back quietly.
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/velk-no-session-bus",
            "DBUS_SYSTEM_BUS_ADDRESS": os.environ.get("DBUS_SYSTEM_BUS_ADDRESS", ""),
        }
        if args.screen_reader:
            # A screen reader's session: its bus, where Qt's bridge (on) finds the accessibility bus.
            self.env.update(DBUS_SESSION_BUS_ADDRESS=os.environ["DBUS_SESSION_BUS_ADDRESS"],
                            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        # The sanitized build's options, the leak checker's suppressions of that session among them.
        for name in ("ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"):
            if name in os.environ:
                self.env[name] = os.environ[name]
        self.app = None
        self.phones = []
        work = os.environ["VELK_DEMO_WORK"]
        for path in sorted(glob.glob(os.path.join(work, "phone*", "phone.json"))):
            with open(path) as source:
                phone = json.load(source)
            phone["requests"] = os.path.join(os.path.dirname(path), "requests.log")
            # What the phone printed for the user: "NAME: pairing code CODE, fingerprint TEXT".
            with open(os.path.join(os.path.dirname(path), "phone.out")) as printed:
                phone["printedFingerprint"] = printed.read().rsplit("fingerprint ", 1)[-1].strip()
            self.phones.append(phone)

    # --- outside views of the application ---

    def widgets(self):
        for _ in range(20):
            try:
                with open(self.map_file) as source:
                    return json.load(source)
            except (OSError, ValueError):
                time.sleep(0.1)
        return []

    def find(self, window=None, name=None, text=None, contains=None, cls=None, enabled=None):
        found = []
        for entry in self.widgets():
            if window is not None and entry["window"] != window:
                continue
            if name is not None and entry["name"] != name:
                continue
            if text is not None and entry["text"] != text:
                continue
            if contains is not None and contains not in entry["text"]:
                continue
            if cls is not None and entry["class"] != cls:
                continue
            if enabled is not None and entry["enabled"] != enabled:
                continue
            found.append(entry)
        return found

    def wait(self, what, test, seconds=STEP_S):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            result = test()
            if result:
                return result
            if self.app and self.app.poll() is not None:
                self.fail("the application ended (status %s) while waiting for %s" % (self.app.returncode, what))
            time.sleep(0.25)
        self.fail("timed out waiting for " + what)

    def wait_widget(self, what, **query):
        return self.wait(what, lambda: self.find(**query))[0]

    def titles(self):
        tree = subprocess.run(["xwininfo", "-root", "-tree"], env=self.env, capture_output=True, text=True).stdout
        return tree

    # --- a person's hands ---

    def xdotool(self, *arguments):
        subprocess.run(["xdotool", *arguments], env=self.env, check=True)

    def click(self, entry):
        x, y, w, h = entry["rect"]
        self.xdotool("mousemove", "--sync", str(x + w // 2), str(y + h // 2))
        self.xdotool("click", "1")
        time.sleep(0.3)

    def type_text(self, text, delay_ms=60):
        self.xdotool("type", "--delay", str(delay_ms), text)

    def key(self, *keys):
        self.xdotool("key", "--delay", "80", *keys)

    def settle(self):
        """Waits until the application wrote its widget map twice more: it has handled what was
        typed before, however busy the machine."""
        changes, seen = 0, None
        deadline = time.monotonic() + STEP_S
        while changes < 2 and time.monotonic() < deadline:
            try:
                written = os.stat(self.map_file).st_mtime_ns
            except OSError:
                written = None
            changes += seen is not None and written != seen
            seen = written
            time.sleep(0.02)
        self.check(changes == 2, "the application no longer writes its widget map")

    def tab_to(self, what, window, backwards=False, **query):
        """Presses Tab (Shift+Tab) until the widget map says the wanted widget has the focus. The
        control Tab passed last before it is kept in self.passed: the user's choice before."""
        self.passed = None
        for _ in range(40):
            self.settle()
            focused = [e for e in self.find(window=window) if e.get("focused")]
            reached = [e for e in self.find(window=window, **query) if e.get("focused")]
            if reached:
                return reached[0]
            self.passed = focused[0] if focused else None
            self.key("shift+Tab" if backwards else "Tab")
        self.fail("Tab never reached " + what)

    def arrow_to(self, what, window, list_name, contains):
        """In the focused list, Home and then Down until the wanted row is selected."""
        self.key("Home")
        for _ in range(20):
            self.settle()
            if [e for e in self.find(window=window, name=list_name + ".row", contains=contains) if e.get("selected")]:
                return
            self.key("Down")
        self.fail("the arrows never selected " + what)

    def shot(self, name):
        self.shot_count += 1
        path = os.path.join(self.shots, "%02d-%s.png" % (self.shot_count, name))
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "x11grab", "-video_size",
                        self.args.screen, "-draw_mouse", "0", "-i", self.args.display, "-frames:v", "1", path],
                       env=self.env, check=False)

    def symbol_contrast(self, entry):
        """How a control's symbol stands out from its face on the screen: the contrast with its
        commonest colour that its strongest 1 % of pixels reach (a thin chevron is a few pixels)."""
        x, y, w, h = entry["rect"]
        raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "x11grab", "-video_size", "%dx%d" % (w, h),
                              "-draw_mouse", "0", "-i", "%s+%d,%d" % (self.args.display, x, y), "-frames:v", "1", "-f", "rawvideo",
                              "-pix_fmt", "rgb24", "-"], env=self.env, capture_output=True).stdout
        lum = [sum(k * ((c / 255) / 12.92 if c <= 10 else ((c / 255 + 0.055) / 1.055) ** 2.4)
                   for k, c in zip((0.2126, 0.7152, 0.0722), raw[i:i + 3])) for i in range(0, len(raw) - 2, 3)]
        ground = max(set(lum), key=lum.count) if lum else 0
        ratios = sorted((max(v, ground) + 0.05) / (min(v, ground) + 0.05) for v in lum) or [1.0]
        return ratios[int(len(ratios) * 0.99)]

    def keyboard_after(self, what, window=LIBRARY, **expected):
        """Once the application has handled what came before: some control of `window` has the
        keyboard, and not a guarded one (one that starts, stops or removes something); `expected`
        (its text, name...) says which, when the road knows."""
        self.settle()
        focused = [e for e in self.widgets() if e.get("focused")]
        entry = focused[0] if focused else None
        print("road: keyboard after %s: %s" % (what, "%s \"%s\" (%s) in %s%s" % (
            entry["name"] or "-", entry["text"], entry["class"], entry["window"],
            ", guarded" if entry.get("guarded") else "") if entry else "none"), flush=True)
        if entry is None:
            # Where the X server has the keyboard, then.
            focus = subprocess.run(["xdotool", "getwindowfocus", "getwindowname"], env=self.env, capture_output=True,
                                   text=True).stdout.strip()
            self.fail("no control has the keyboard after %s (the X server gives it to \"%s\")" % (what, focus))
        self.check(entry["window"] == window, "after %s the keyboard is in %s" % (what, entry["window"]))
        self.check(not entry.get("guarded"), "after %s the keyboard is on %s, which it may reach only from the user"
                   % (what, entry["text"] or entry["name"]))
        wanted = {key: value for key, value in expected.items() if entry.get(key) != value}
        self.check(not wanted, "after %s the keyboard is on %s \"%s\", not on %s" % (
            what, entry["name"] or entry["class"], entry["text"],
            " ".join("%s \"%s\"" % (key, value) for key, value in expected.items())))
        return entry

    # --- what Orca says, in a screen reader's session (its speech log, tests/support/screen_reader.sh) ---

    def speech_mark(self):
        """Where Orca's speech log ends now; None where no Orca speaks."""
        log = os.path.join(self.out, "orca-debug.log")
        if not self.args.screen_reader or not os.path.exists(log):
            return None
        with open(log, errors="replace") as source:
            return len(source.readlines())

    def orca_said(self, mark, text, what):
        """Orca spoke a line holding `text` since `mark` (a job's end, told without the keyboard moving)."""
        if mark is None:
            return

        def said():
            with open(os.path.join(self.out, "orca-debug.log"), errors="replace") as source:
                return next((line for line in source.readlines()[mark:] if "SPEECH OUTPUT" in line and text in line), None)
        line = self.wait("Orca to say \"%s\" after %s" % (text, what), said, 10)
        print("road: Orca said after %s: %s" % (what, line.split("SPEECH OUTPUT: ", 1)[1].split("{")[0]), flush=True)

    def fail(self, message):
        self.shot("failure")
        print("road: " + message, file=sys.stderr, flush=True)
        with open(os.path.join(self.out, "widgets-at-failure.json"), "w") as dump:
            json.dump(self.widgets(), dump, indent=1)
        raise SystemExit(1)

    def check(self, condition, message):
        if not condition:
            self.fail(message)

    # --- the road ---

    def start(self):
        log = open(os.path.join(self.out, "kestova-%s.log" % self.run_name), "w")
        self.app = subprocess.Popen([self.args.app], env=self.env, stdout=log, stderr=subprocess.STDOUT)
        self.wait("the Director window", lambda: self.find(window=DIRECTOR))
        self.wait("two live cameras on the wall", lambda: self.find(window=DIRECTOR, text="2 CAMERAS"), 40)
        time.sleep(2)  # a few preview frames
        self.shot("director")

    def open_library(self):
        menu = self.wait_widget("the menu bar", window=DIRECTOR, name="menuBar")
        x, y, _, _ = menu["rect"]
        # The Window menu by its mnemonic, then Library by its own. A loaded machine can take a
        # while to show the menu, so "l" goes only to a menu that is open, and the road tries again
        # when the menu never opened.
        for _ in range(3):
            self.click({"rect": [x, y, 4, 4]})
            self.key("Escape")
            self.key("alt+w")
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and not self.find(cls="QMenu"):
                time.sleep(0.25)
            if not self.find(cls="QMenu"):
                continue
            self.key("l")
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and not self.find(window=LIBRARY, name="collect"):
                time.sleep(0.25)
            if self.find(window=LIBRARY, name="collect"):
                break
        self.wait_widget("the Library window", window=LIBRARY, name="collect")
        self.check('"Kestova Library"' in self.titles(), "xwininfo does not list the Library window")
        self.shot("library")

    def pair(self, phone):
        self.click(self.wait_widget("the Collect button", window=LIBRARY, name="collect"))
        sheet = "Collect from Cameras"
        card = self.wait_widget("the card of " + phone["name"], window=sheet, name="card", contains=phone["name"])
        self.click(card)
        fingerprint = self.wait_widget("the fingerprint confirmation", window=sheet, cls="QCheckBox",
                                       contains="fingerprint matches")
        shown = phone["printedFingerprint"]
        self.check(shown.lower() == " ".join(phone["fingerprint"][i:i + 4] for i in range(0, 32, 4)),
                   "the phone printed another fingerprint: " + shown)
        self.check([e for e in self.find(window=sheet) if e["text"] == shown],
                   "the sheet does not show the fingerprint as the phone printed it: " + shown)
        if not fingerprint.get("checked"):
            self.click(fingerprint)
        code = self.wait_widget("the pairing code field", window=sheet, name="pairingCode")
        self.click(code)
        self.key("ctrl+a", "BackSpace")
        self.type_text(phone["code"])
        self.key("Return")  # Return in the code field presses nothing
        self.settle()
        self.check(not self.pair_requests(phone), "Return in the code field sent a pairing request")
        self.shot("collect-" + phone["cameraId"])
        primary = self.wait_widget("an enabled pair button", window=sheet, name="primary", enabled=True)
        spoken = self.speech_mark()
        self.click(primary)
        self.wait("the pairing with " + phone["name"], lambda: self.pair_requests(phone) and
                  any(r["path"].endswith("/catalog") for r in self.requests(phone)), 40)
        self.wait("the Collect sheet to close", lambda: not self.find(window=sheet), 40)
        self.keyboard_after("the pairing with " + phone["name"])
        self.orca_said(spoken, "Paired with " + phone["name"], "the pairing")

    def requests(self, phone):
        try:
            with open(phone["requests"]) as source:
                return [json.loads(line) for line in source if line.strip()]
        except OSError:
            return []

    def pair_requests(self, phone):
        return [r for r in self.requests(phone) if r["method"] == "POST" and "/pair" in r["path"]]

    # The take is chosen, downloaded and exported with the keyboard alone: Tab, arrows and Return.
    def select_take(self):
        self.wait_widget("the project Demo Shoot", window=LIBRARY, name="projects.row", contains="Demo Shoot")
        # The keyboard goes to the Library window (with no window manager, nothing else gives it).
        self.xdotool("search", "--name", "^%s$" % LIBRARY, "windowfocus", "--sync")
        self.tab_to("the project list", LIBRARY, name="projects")
        self.arrow_to("the project Demo Shoot", LIBRARY, "projects", "Demo Shoot")
        self.shot("focus-projects")
        self.wait_widget("the take", window=LIBRARY, name="takeList.row", contains="take-001")
        self.tab_to("the take list", LIBRARY, name="takeList")
        self.arrow_to("the take", LIBRARY, "takeList", "take-001")
        self.shot("take")

    def download(self):
        self.wait_widget("Download Take", window=LIBRARY, text="Download Take", enabled=True)
        # From the take list on round to the toolbar.
        self.tab_to("Download Take", LIBRARY, text="Download Take", cls="QToolButton")
        before = self.passed
        self.check(before is not None, "Tab reached Download Take from no control")
        self.shot("focus-download-take")
        spoken = self.speech_mark()
        self.key("Return")
        media = os.path.join(self.home, "Videos", "Velk")

        def downloaded():
            found = {}
            for path in glob.glob(os.path.join(media, "**", "*.mov"), recursive=True):
                with open(path, "rb") as source:
                    found[os.path.basename(path)] = hashlib.sha256(source.read()).hexdigest()
            return found if len(found) == len(self.phones) else None

        copies = self.wait("the verified copies", downloaded, 60)
        for index, phone in enumerate(self.phones, start=1):
            with open(os.path.join(self.args.media, "phone%d.mov" % index), "rb") as source:
                original = hashlib.sha256(source.read()).hexdigest()
            self.check(copies.get(phone["cameraId"] + ".mov") == original,
                       "the copy of %s differs from the phone's recording" % phone["name"])
            wanted = {"/velk/v1/files/" + phone["clipId"], "/velk/v1/files/%s.timing.json" % phone["clipId"]}
            self.wait(phone["name"] + "'s log of the clip and timing requests",
                      lambda: wanted <= {r["path"] for r in self.requests(phone) if r["method"] == "GET"}, 5)
        # Every clip is on this computer now, so there is nothing left for Download Take.
        self.wait("Download Take to have nothing left", lambda: self.find(window=LIBRARY, text="Download Take",
                                                                          enabled=False))
        # Download Take greyed out as it ran: the keyboard is back where the user had it before.
        self.keyboard_after("Download Take", name=before["name"], text=before["text"])
        self.orca_said(spoken, "Downloaded and verified", "Download Take")
        self.shot("downloaded")
        self.use_as_reference(before)

    def use_as_reference(self, before):
        """A click on a recording's Use as reference, which then hides: the keyboard goes back to the
        control the user chose before (the click on a tab gives none). Then the first camera is the
        reference again, as the export needs."""
        self.click(self.wait_widget("the take's Media tab", window=LIBRARY, name="takeView.tab", text="Media"))
        for turn in range(2):
            button = self.wait_widget("Use as reference", window=LIBRARY, name="useAsReference")
            camera = button["description"]
            spoken = self.speech_mark()
            self.click(button)
            self.wait("%s to be the reference" % camera, lambda: not [
                e for e in self.find(window=LIBRARY, name="useAsReference") if e["description"] == camera])
            if turn == 0:
                self.keyboard_after("Use as reference", name=before["name"], text=before["text"])
                self.orca_said(spoken, "%s is now the reference camera" % camera, "Use as reference")
                self.shot("reference")

    def export_into(self, parent, look=False):
        """Export for Resolve from the keyboard, into `parent` typed into the file panel."""
        self.wait_widget("Export for Resolve", window=LIBRARY, text="Export for Resolve", enabled=True)
        self.tab_to("Export for Resolve", LIBRARY, text="Export for Resolve", cls="QToolButton")
        self.key("Return")
        panel = "Choose Parent Folder for Resolve Export"
        field = self.wait_widget("the folder field of the export panel", window=panel, name="fileNameEdit")
        self.settle()
        if look:
            self.shot("export-panel")
            for name in ("toParentButton", "newFolderButton", "listModeButton", "detailModeButton"):
                button = self.wait_widget("the export panel's " + name, window=panel, name=name)
                contrast = self.symbol_contrast(button)
                self.check(contrast >= 3, "the export panel's %s stands out by %.2f:1 only" % (name, contrast))
        self.click(field)
        self.key("ctrl+a", "BackSpace")
        self.type_text(parent, 30)  # as fast as a person types
        self.key("Return")

    def export(self):
        parent = os.path.join(self.out, "exports-" + self.run_name)
        os.makedirs(parent, exist_ok=True)
        self.export_into(parent, look=True)
        timeline = self.wait("the export package",
                             lambda: glob.glob(os.path.join(parent, "*", "timeline.fcpxml")), 60)[0]
        folder = os.path.dirname(timeline)
        for name in ("alignment-report.json", "source-manifest.json"):
            self.check(os.path.exists(os.path.join(folder, name)), "the export has no " + name)
        lint = ["xmllint", "--noout"]
        if os.path.exists(self.args.dtd):
            lint += ["--dtdvalid", self.args.dtd]
        result = subprocess.run(lint + [timeline], capture_output=True, text=True)
        self.check(result.returncode == 0, "xmllint refuses the timeline: " + result.stderr)
        # Export for Resolve greyed out as the export ran: the keyboard is back on it.
        self.wait("the export to end", lambda: self.find(window=LIBRARY, text="Export for Resolve", enabled=True))
        self.keyboard_after("the export", text="Export for Resolve")
        self.shot("exported")

    def failed_export(self):
        """An export into a folder on a disk mounted read-only fails: its alert says why, and OK
        (Return) gives the keyboard back to Export for Resolve. The disk is mounted in the mount
        namespace lab-demo runs the road in, never the machine's own."""
        # lab-demo's own mount namespace is the one where it binds its hosts file over /etc/hosts.
        with open("/proc/self/mountinfo") as mounts:
            own = any(line.split()[4] == "/etc/hosts" for line in mounts)
        self.check(own, "the road does not run in lab-demo's mount namespace")
        disk = os.path.join(self.out, "read-only-disk")
        os.makedirs(disk, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=64k", "velk-read-only", disk], check=True)
        self.export_into(disk)
        self.wait_widget("the failed export's alert", name="errorAlert")
        self.shot("export-failed")
        self.key("Return")
        self.wait("the alert to close", lambda: not self.find(name="errorAlert"))
        self.keyboard_after("OK on the failed export's alert", text="Export for Resolve")

    def focus_library(self):
        self.click(self.wait_widget("the Library title", window=LIBRARY, text="Library", cls="QLabel"))

    def settings(self):
        self.focus_library()
        self.key("ctrl+comma")
        self.wait_widget("the Settings window", window="Kestova Settings",
                         text="Verified recordings: ~/Videos/Velk")
        self.check(self.find(window="Kestova Settings", text="Library: ~/.local/share/Velk"),
                   "Settings does not name the library folder")
        self.shot("settings")
        self.key("ctrl+w")
        self.wait("Settings to close", lambda: not self.find(window="Kestova Settings"))

    def reopen_library(self):
        # Closing drops the window's own state only; the library and its selection live on.
        self.click(self.wait_widget("the Library's search field", window=LIBRARY, name="projectSearch"))
        self.type_text("Demo")
        self.focus_library()
        self.key("ctrl+w")
        self.wait("the Library window to close", lambda: '"Kestova Library"' not in self.titles())
        self.open_library()
        row = self.wait_widget("the project row", window=LIBRARY, name="projects.row", contains="Demo Shoot")
        self.check(row.get("selected"), "the project is no longer selected after reopening the Library")
        search = self.wait_widget("the search field", window=LIBRARY, name="projectSearch")
        self.check(search["text"] in ("", "Search projects"), "the search text survived closing the window")

    def second_launch(self):
        second = subprocess.run([self.args.app], env=self.env, capture_output=True, text=True, timeout=30)
        self.check(second.returncode == 0, "a second launch ended with status %d" % second.returncode)
        self.check("already running" in second.stderr, "the second launch did not reach the first: " + second.stderr)
        self.check(self.app.poll() is None, "the first instance ended")
        titles = self.titles()
        self.check(titles.count('"Kestova Director"') == 1, "not exactly one Director window after a second launch")

    def quit(self):
        # Ctrl+Q from a sheet: the Wi-Fi QR sheet over the Library has the keyboard (a click in its
        # margin gives it, with or without a window manager). The second launch raised the Director;
        # a window manager raises a window it activates, and may refuse a raise from anyone else.
        self.xdotool("search", "--name", "^%s$" % LIBRARY, "windowactivate" if self.args.window_manager else "windowraise")
        self.click(self.wait_widget("the Wi-Fi QR button", window=LIBRARY, name="wifi"))
        x, y, _, _ = self.wait_widget("the Wi-Fi QR sheet", window="Wi-Fi QR", name="wifiSheet")["rect"]
        self.click({"rect": [x, y, 8, 8]})
        self.shot("wifi-sheet")
        if self.speech_mark() is not None:
            # Orca speaks the closed Security box's new value as the arrows change it.
            # Into the sheet's tabs (the keyboard is on Done), then Ctrl+Tab to its Show QR page.
            for _ in range(4):
                self.key("Tab", "ctrl+Tab")
                self.settle()
                if self.find(window="Wi-Fi QR", name="shareSecurity"):
                    break
            self.tab_to("the Security box", "Wi-Fi QR", name="shareSecurity")
            for key, value in (("Down", "WPA3 Personal (SAE)"), ("Up", "WPA/WPA2 Personal")):
                spoken = self.speech_mark()
                self.key(key)
                self.orca_said(spoken, value, key + " on the Security box")
        started = time.monotonic()
        self.key("ctrl+q")
        try:
            status = self.app.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.fail("Ctrl+Q in the Wi-Fi QR sheet did not end the application")
        print("road: Ctrl+Q in the Wi-Fi QR sheet ended the application after %.2f s" % (time.monotonic() - started),
              flush=True)
        self.check(status == 0, "the application ended with status %d" % status)
        data = os.path.join(self.home, ".local", "share", "Velk")
        self.check(not os.path.exists(os.path.join(data, "kestova.lock")), "the instance lock was left behind")
        # The library on disk holds every verified copy.
        with open(os.path.join(data, "library.json")) as source:
            projects = json.load(source)["projects"]
        clips = [clip for project in projects if project["name"] == "Demo Shoot" for take in project["takes"]
                 for clip in take["clips"]]
        self.check(len(clips) == len(self.phones) and all(clip.get("localPath") for clip in clips),
                   "the saved library does not hold every verified copy: %s" % clips)
        # Quitting sends the cameras nothing: no stop, no cancellation.
        for phone in self.phones:
            log = os.path.join(os.path.dirname(phone["requests"]), "camera.log")
            with open(log) as source:
                for line in source:
                    entry = json.loads(line)
                    if entry.get("event") == "received" and ("STOP_TAKE" in line or "CANCEL_TAKE" in line):
                        self.fail(phone["name"] + " received a stop or cancellation: " + line)

    def run(self):
        try:
            self.start()
            self.open_library()
            for phone in self.phones:
                self.pair(phone)
            self.select_take()
            if self.args.again:
                self.wait("Download Take to have nothing left",
                          lambda: self.find(window=LIBRARY, text="Download Take", enabled=False))
                self.export()
            else:
                self.download()
                self.export()
                self.failed_export()
                if not self.args.screen_reader:  # the keyboard's rows only, once more with the bridge on
                    self.settings()
                    self.reopen_library()
                    self.second_launch()
            self.quit()
        finally:
            if self.app and self.app.poll() is None:
                self.app.terminate()
                try:
                    self.app.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    self.app.kill()
        print("road: passed", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--app", required=True)
    parser.add_argument("--display", required=True)
    parser.add_argument("--screen", default="1920x1080")
    parser.add_argument("--out", required=True)
    parser.add_argument("--media", required=True, help="the phones' recordings, to compare the copies with")
    parser.add_argument("--dtd", default="")
    parser.add_argument("--shots", default="", help="where the screenshots go (OUT/screenshots unless given)")
    parser.add_argument("--again", action="store_true", help="the next run of the same phones and home")
    parser.add_argument("--window-manager", default="", help="the window manager on the display, if any")
    parser.add_argument("--screen-reader", action="store_true",
                        help="a screen reader listens on the session bus's accessibility bus (real_window_test.sh)")
    Road(parser.parse_args()).run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
