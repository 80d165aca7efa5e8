#!/usr/bin/python3
"""Checks of the Director's real-window lab test, made from outside the application: screen
captures (raw RGB from ffmpeg's x11grab) read where the widget map places each region, the
simulated phones' logs and the settings file."""

import base64
import json
import statistics
import sys

SCREEN_W, SCREEN_H = 1400, 900


def load(path):
    with open(path, "rb") as f:
        data = f.read()
    assert len(data) == SCREEN_W * SCREEN_H * 3, "unexpected capture size"
    return data


def pixel(data, x, y):
    i = (y * SCREEN_W + x) * 3
    return data[i], data[i + 1], data[i + 2]


def widget(map_path, name=None, text=None):
    """The screen rectangle (x, y, w, h) of a visible widget of the Director window, from the
    widget map the application writes when VELK_WIDGET_MAP is set."""
    with open(map_path) as f:
        entries = json.load(f)
    for entry in entries:
        if entry["window"] != "Kestova Director":
            continue
        if (name is None or entry["name"] == name) and (text is None or entry["text"] == text):
            return entry["rect"]
    raise SystemExit("no widget %s in the widget map" % (name or text))


def region_spread(data, x0, y0, x1, y1):
    """Standard deviation and mean of brightness over a grid of samples: a live frame is bright
    and varied, a placeholder on black is dark."""
    values = []
    for y in range(y0, y1, 3):
        for x in range(x0, x1, 3):
            r, g, b = pixel(data, x, y)
            values.append(r + g + b)
    return statistics.pstdev(values), statistics.mean(values)


def shows_frame(data, rect, top, bottom):
    x, y, w, h = rect
    spread, mean = region_spread(data, x + 15, y + top, x + w - 15, y + h - bottom)
    return spread > 20 and mean > 60, spread, mean


def command_centre(args):
    rect = widget(args[0], **{args[1]: args[2]})
    print(rect[0] + rect[2] // 2, rect[1] + rect[3] // 2)


def command_tiles(args):
    map_path, shot, pattern = args
    data = load(shot)
    failed = False
    for index, live in enumerate(int(flag) for flag in pattern.split(",")):
        # The picture area: below the label strip, above the 25-point meter row.
        shows, spread, mean = shows_frame(data, widget(map_path, name="wallCell%d" % (index + 1)), 36, 30)
        print("tile %d spread %.1f mean %.1f frame %s" % (index + 1, spread, mean, shows))
        failed = failed or shows != bool(live)
    sys.exit(1 if failed else 0)


def command_program(args):
    map_path, shot = args
    shows, spread, mean = shows_frame(load(shot), widget(map_path, name="programMonitor"), 30, 10)
    print("program spread %.1f mean %.1f" % (spread, mean))
    sys.exit(0 if shows else 1)


def events(path):
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def command_starts(args):
    bound = float(args[0])
    instants = []
    for path in args[1:]:
        starts = [e["atMs"] for e in events(path) if e.get("event") == "recording"]
        if not starts:
            print("no recording start in", path)
            sys.exit(1)
        instants.append(starts[0])
    spread = max(instants) - min(instants)
    print("start instants", instants, "spread %d ms" % spread)
    sys.exit(0 if spread <= bound else 1)


def command_stops(args):
    failed = False
    for path in args:
        log = events(path)
        received = any(e.get("event") == "received" and e.get("message", {}).get("payload", {}).get("action") == "STOP_TAKE"
                       for e in log)
        acked = any(e.get("event") == "reply" and e.get("action") == "STOP_ACK" for e in log)
        print(path, "stop received", received, "acknowledged", acked)
        failed = failed or not (received and acked)
    sys.exit(1 if failed else 0)


def command_slot(args):
    settings, camera = args
    text = None
    with open(settings) as f:
        for line in f:
            if line.startswith("director.cameraSlots.v1="):
                text = line.split("=", 1)[1].strip().strip('"')
    if text is None:
        print("no slot layout in", settings)
        sys.exit(1)
    slots = json.loads(base64.b64decode(text))
    slots = slots.get("slots", slots) if isinstance(slots, dict) else slots
    ids = [slot.get("cameraID") for slot in slots]
    if camera not in ids:
        print("slots", ids, file=sys.stderr)
        sys.exit(1)
    print(ids.index(camera))


if __name__ == "__main__":
    commands = {"centre": command_centre, "tiles": command_tiles, "program": command_program,
                "starts": command_starts, "stops": command_stops, "slot": command_slot}
    commands[sys.argv[1]](sys.argv[2:])
