#!/usr/bin/python3
"""Checks of the Director's real-window lab test, made from outside the application: screen
captures (raw RGB from ffmpeg's x11grab), the simulated phones' logs and the settings file."""

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


def content_offset(data, wx, wy):
    """Rows between the window's top and its content: the menu bar. The header's icon tile is
    green-tinted and starts 10 rows below the content's top."""
    for y in range(wy, min(wy + 120, SCREEN_H)):
        r, g, b = pixel(data, wx + 30, y)
        if g - r > 12 and g - b > 12:
            return y - wy - 10
    raise SystemExit("no Director header found")


def region_spread(data, x0, y0, x1, y1):
    """Standard deviation of brightness over a grid of samples: a live frame varies, a
    placeholder on black hardly does."""
    values = []
    for y in range(y0, y1, 3):
        for x in range(x0, x1, 3):
            r, g, b = pixel(data, x, y)
            values.append(r + g + b)
    return statistics.pstdev(values), statistics.mean(values)


# Picture areas of the wall's top row and of the Program monitor, relative to the content's top
# left corner, in the window's default 1320 x 820 layout.
TILES = [(40, 186, 230, 245), (273, 186, 463, 245), (506, 186, 696, 245), (739, 186, 929, 245)]
PROGRAM = (510, 520, 925, 740)


def command_offset(args):
    data = load(args[0])
    print(content_offset(data, int(args[1]), int(args[2])))


def command_tiles(args):
    data = load(args[0])
    ox, oy = int(args[1]), int(args[2])
    live = [int(flag) for flag in args[3].split(",")]
    failed = False
    for index, (x0, y0, x1, y1) in enumerate(TILES):
        spread, mean = region_spread(data, ox + x0, oy + y0, ox + x1, oy + y1)
        shows = spread > 20 and mean > 60  # a placeholder is nearly black
        print("tile %d spread %.1f mean %.1f frame %s" % (index + 1, spread, mean, shows))
        if shows != bool(live[index]):
            failed = True
    sys.exit(1 if failed else 0)


def command_program(args):
    data = load(args[0])
    ox, oy = int(args[1]), int(args[2])
    x0, y0, x1, y1 = PROGRAM
    spread, mean = region_spread(data, ox + x0, oy + y0, ox + x1, oy + y1)
    print("program spread %.1f mean %.1f" % (spread, mean))
    sys.exit(0 if spread > 20 and mean > 60 else 1)


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
    commands = {"offset": command_offset, "tiles": command_tiles, "program": command_program,
                "starts": command_starts, "stops": command_stops, "slot": command_slot}
    commands[sys.argv[1]](sys.argv[2:])
