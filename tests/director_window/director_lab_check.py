#!/usr/bin/python3
"""Checks of the Director's real-window lab test, made from outside the application: screen
captures (raw RGB from ffmpeg's x11grab) read where the widget map places each region, the
simulated phones' logs, the settings file and a packet capture (pcap) of the desk's lab interface."""

import base64
import collections
import ipaddress
import json
import os
import struct
import statistics
import sys
import time

SCREEN_W, SCREEN_H = 1400, 900


def load(path):
    with open(path, "rb") as f:
        data = f.read()
    assert len(data) == SCREEN_W * SCREEN_H * 3, "unexpected capture size"
    return data


def pixel(data, x, y):
    i = (y * SCREEN_W + x) * 3
    return data[i], data[i + 1], data[i + 2]


def widget_entry(map_path, name=None, text=None):
    """A visible widget of the Director window, from the widget map the application writes when
    VELK_WIDGET_MAP is set (the map may not be written yet)."""
    try:
        with open(map_path) as f:
            entries = json.load(f)
    except (OSError, ValueError):
        entries = []
    for entry in entries:
        if entry["window"] != "Kestova Director":
            continue
        if (name is None or entry["name"] == name) and (text is None or entry["text"] == text):
            return entry
    raise SystemExit("no widget %s in the widget map" % (name or text))


def widget(map_path, name=None, text=None):
    """The screen rectangle (x, y, w, h) of that widget."""
    return widget_entry(map_path, name, text)["rect"]


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
    """The centre of a widget named by one or two of: name VALUE, text VALUE."""
    rect = widget(args[0], **dict(zip(args[1::2], args[2::2])))
    print(rect[0] + rect[2] // 2, rect[1] + rect[3] // 2)


def command_keyboard(args):
    """Some control of the application has the keyboard, and not a guarded one (one that starts,
    stops or removes something); says which, after what."""
    map_path, after = args
    try:
        with open(map_path) as f:
            focused = [entry for entry in json.load(f) if entry.get("focused")]
    except (OSError, ValueError):
        focused = []
    if not focused:
        print("keyboard after %s: no control has it" % after)
        sys.exit(1)
    entry = focused[0]
    print("keyboard after %s: %s \"%s\" (%s) in %s%s" % (after, entry["name"] or "-", entry["text"], entry["class"],
                                                      entry["window"], ", a guarded control" if entry.get("guarded") else ""))
    sys.exit(1 if entry.get("guarded") else 0)


def command_absent(args):
    """None of these texts is shown in the Director window."""
    try:
        with open(args[0]) as f:
            shown = {entry["text"] for entry in json.load(f) if entry["window"] == "Kestova Director"}
    except (OSError, ValueError):
        print("no widget map")
        sys.exit(1)
    found = [text for text in args[1:] if text in shown]
    print("shown:", found if found else "none of", args[1:])
    sys.exit(1 if found else 0)


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


def command_described(args):
    """A widget's accessible description begins with the given text."""
    map_path, name, start = args
    description = widget_entry(map_path, name=name).get("description", "")
    print(name, "described as", repr(description))
    sys.exit(0 if description.startswith(start) else 1)


def command_focused(args):
    """That widget of the Director window has the keyboard's focus."""
    map_path, name = args
    focused = widget_entry(map_path, name=name).get("focused")
    print(name, "focused" if focused else "not focused")
    sys.exit(0 if focused else 1)


def command_rewritten(args):
    """Waits (30 s at most) until the application wrote its widget map that many times more."""
    map_path, times = args[0], int(args[1])
    deadline = time.monotonic() + 30
    seen = None
    while times > 0 and time.monotonic() < deadline:
        try:
            written = os.stat(map_path).st_mtime_ns
        except OSError:
            written = None
        if seen is not None and written != seen:
            times -= 1
        seen = written
        time.sleep(0.02)
    print("widget map rewritten" if times == 0 else "widget map not rewritten")
    sys.exit(0 if times == 0 else 1)


def command_menu(args):
    """A menu of the application is open."""
    try:
        with open(args[0]) as f:
            entries = json.load(f)
    except (OSError, ValueError):
        entries = []
    menus = [entry for entry in entries if entry["class"] == "QMenu"]
    print("open menus", len(menus))
    sys.exit(0 if menus else 1)


def command_enabled(args):
    entry = widget_entry(args[0], **{args[1]: args[2]})
    print(args[2], "enabled" if entry["enabled"] else "disabled")
    sys.exit(0 if entry["enabled"] else 1)


def command_program(args):
    map_path, shot = args
    shows, spread, mean = shows_frame(load(shot), widget(map_path, name="programMonitor"), 30, 10)
    print("program spread %.1f mean %.1f" % (spread, mean))
    sys.exit(0 if shows else 1)


def command_outline(args):
    """A wall cell's outline colour, read on its left edge half-way down: green while its camera
    is Preview, red while on Program."""
    map_path, shot, name, colour = args
    x, y, _w, h = widget(map_path, name=name)
    r, g, b = pixel(load(shot), x + 1, y + h // 2)
    print(name, "left edge", (r, g, b))
    wanted = {"green": g > 150 and g > r + 60 and g > b + 40, "red": r > 180 and r > g + 80 and r > b + 80}
    sys.exit(0 if wanted[colour] else 1)


def command_focus_ring(args):
    """A wall cell shows the keyboard's focus: the white ring drawn just inside its edge."""
    map_path, shot, name = args
    x, y, _w, h = widget(map_path, name=name)
    r, g, b = pixel(load(shot), x + 4, y + h // 2)
    print(name, "ring", (r, g, b))
    sys.exit(0 if min(r, g, b) > 170 else 1)


def events(path):
    with open(path) as f:
        # The last line may be half written while the phone runs.
        return [json.loads(line) for line in f if line.endswith("\n") and line.strip()]


def first(path, kind):
    return next((e for e in events(path) if e.get("event") == kind), None)


def command_started(args):
    missing = [path for path in args if first(path, "recording") is None]
    print("no recording start yet in", missing if missing else "none")
    sys.exit(1 if missing else 0)


def command_starts(args):
    """The instant each phone was told to start, in true (host) time: when it scheduled the start
    plus the delay it computed from its own clock. That is what the desk's clock estimate decides;
    when the phone's timer then fires depends on how busy the machine is, so the actual starts are
    held only to a loose bound."""
    bound = float(args[0])
    scheduled, started = [], []
    for path in args[1:]:
        plan, start = first(path, "start-scheduled"), first(path, "recording")
        if plan is None or start is None:
            print("no scheduled and actual recording start in", path)
            sys.exit(1)
        scheduled.append(plan["atMs"] + plan["delayMs"])
        started.append(start["atMs"])
    spread = max(scheduled) - min(scheduled)
    late = max(s - p for s, p in zip(started, scheduled))
    print("scheduled instants", [round(t) for t in scheduled], "spread %d ms" % spread)
    print("actual starts", started, "latest %d ms after its instant" % late)
    sys.exit(0 if spread <= bound and late <= 2000 else 1)


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


LAB_NETWORK = ipaddress.ip_network("10.77.0.0/24")
MULTICAST_GROUP = ipaddress.ip_address("239.255.71.42")


def pcap_frames(path):
    """(time in seconds, frame bytes) of every record of a classic pcap file of Ethernet frames."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 24:
        raise SystemExit("%s: no pcap header" % path)
    for order in "<>":
        magic = struct.unpack(order + "I", data[:4])[0]
        if magic in (0xA1B2C3D4, 0xA1B23C4D):
            break
    else:
        raise SystemExit("%s: not a pcap file" % path)
    fraction = 1e-9 if magic == 0xA1B23C4D else 1e-6
    linktype = struct.unpack(order + "I", data[20:24])[0] & 0x0FFFFFFF
    if linktype != 1:
        raise SystemExit("%s: link type %d, not Ethernet" % (path, linktype))
    offset = 24
    while offset + 16 <= len(data):
        seconds, part, captured, _original = struct.unpack(order + "IIII", data[offset:offset + 16])
        offset += 16
        # A record cut short by the writer stopping ends the file.
        if offset + captured > len(data):
            break
        yield seconds + part * fraction, data[offset:offset + captured]
        offset += captured


def datagrams(path):
    """Every IPv4 packet in the capture as (time, source, destination, UDP payload or None). The
    payload is None for anything but a whole UDP datagram (another protocol, a fragment)."""
    others = 0
    result = []
    for at, frame in pcap_frames(path):
        kind, ip = struct.unpack("!H", frame[12:14])[0], 14
        while kind == 0x8100 and len(frame) >= ip + 4:  # VLAN tags
            kind, ip = struct.unpack("!H", frame[ip + 2:ip + 4])[0], ip + 4
        if kind != 0x0800 or len(frame) < ip + 20 or frame[ip] >> 4 != 4:
            others += 1
            continue
        header = (frame[ip] & 0x0F) * 4
        total, _identification, flags = struct.unpack("!HHH", frame[ip + 2:ip + 8])
        source = ipaddress.ip_address(frame[ip + 12:ip + 16])
        destination = ipaddress.ip_address(frame[ip + 16:ip + 20])
        payload = None
        whole = flags & 0x3FFF == 0  # neither "more fragments" nor an offset
        udp = ip + header
        if frame[ip + 9] == 17 and whole and len(frame) >= ip + total >= udp + 8:
            length = struct.unpack("!H", frame[udp + 4:udp + 6])[0]
            if 8 <= length <= ip + total - udp:
                payload = frame[udp + 8:udp + length]
        result.append((at, source, destination, payload))
    return result, others


def command_payload(payload):
    """The payload object of a command envelope, or None."""
    try:
        message = json.loads(payload)
    except (TypeError, ValueError):
        return None
    if not isinstance(message, dict) or message.get("type") != "command":
        return None
    inner = message.get("payload")
    return inner if isinstance(inner, dict) else None


def command_datagrams(args):
    """From the capture alone: every phone was sent the take's PREPARE_TAKE and START_AT, none before
    REC ALL was clicked; every phone still running when Stop All was pressed was sent a STOP_TAKE
    afterwards, and none was sent a STOP_TAKE or CANCEL_TAKE before; nothing went anywhere but the
    lab's network and the multicast group. Says what each stray Return (NAME=TIME, comma-separated)
    sent until the next step, which never starts or stops a phone that was recording."""
    path, rec_all_at, stop_all_at = args[0], float(args[1]), float(args[2])
    returns = sorted((float(at), name) for name, at in (item.rsplit("=", 1) for item in args[3].split(",") if item))
    starting, running = args[4].split(","), args[5].split(",")
    takes = {(first(log, "recording") or {}).get("takeId") for log in args[6:]}
    if len(takes) != 1 or None in takes:
        print("the phones recorded different or unnamed takes:", takes)
        sys.exit(1)
    take = takes.pop()
    packets, others = datagrams(path)
    failed = False
    if others:
        print(others, "frames on the capture are not IPv4")
        failed = True
    outside = sorted({str(d) for _, _, d, _ in packets if d not in LAB_NETWORK and d != MULTICAST_GROUP})
    if outside:
        print("datagrams went outside the lab:", outside)
        failed = True
    seen = collections.defaultdict(collections.Counter)
    stops_after = collections.Counter()
    early = collections.Counter()
    # Each Return's window: until the next Return or the next step the user meant (REC ALL, Stop All).
    ends = sorted([at for at, _ in returns] + [rec_all_at, stop_all_at])
    after_return = {name: collections.Counter() for _, name in returns}
    # What a stray Return must never send: a start or stop to a phone that was recording.
    stray = collections.Counter()
    for at, _source, destination, payload in packets:
        command = command_payload(payload)
        if command is None:
            continue
        action = str(command.get("action"))
        if action in ("PREPARE_TAKE", "START_AT") and command.get("takeId") != take:
            action += " (another take)"
        seen[str(destination)][action] += 1
        if action == "STOP_TAKE" and at >= stop_all_at:
            stops_after[str(destination)] += 1
        if (action.startswith(("PREPARE_TAKE", "START_AT")) and at < rec_all_at) or \
                (action in ("STOP_TAKE", "CANCEL_TAKE") and at < stop_all_at):
            early["%s to %s" % (action, destination)] += 1
        for since, name in returns:
            until = next((end for end in ends if end > since), float("inf"))
            # The clock's own exchanges go on by themselves.
            if since <= at < until and not action.startswith("CLOCK_"):
                after_return[name]["%s to %s" % (action, destination)] += 1
                if action.split(" ")[0] in ("PREPARE_TAKE", "START_AT", "STOP_TAKE", "CANCEL_TAKE") and \
                        (str(destination) in running or destination == MULTICAST_GROUP):
                    stray["%s to %s after %s" % (action, destination, name)] += 1
    for _, name in returns:
        print("Return after %s sent:" % name, dict(sorted(after_return[name].items())) or "nothing")
    if early:
        print("commands no click or key of the user's asked for:", dict(sorted(early.items())))
        failed = True
    if stray:
        print("a stray Return started or stopped recording:", dict(sorted(stray.items())))
        failed = True
    print("take", take, "-", len(packets), "IPv4 datagrams on the capture")
    for address in sorted(set(starting) | set(running) | set(seen)):
        print(address, dict(sorted(seen[address].items())), "stops after Stop All", stops_after[address])
    for address in starting:
        for action in ("PREPARE_TAKE", "START_AT"):
            if not seen[address][action]:
                print(address, "was not sent", action, "for", take)
                failed = True
    for address in running:
        # A STOP_TAKE to the group reaches every phone.
        if not stops_after[address] and not stops_after[str(MULTICAST_GROUP)]:
            print(address, "was not sent STOP_TAKE after Stop All")
            failed = True
    sys.exit(1 if failed else 0)


def command_spoken(args):
    """Orca spoke TEXT (in its debug log's speech lines after line MARK) at most SECONDS after SENT,
    the time the user's input was sent (seconds since the epoch); prints how long after."""
    log_path, mark, sent, text, seconds = args
    with open(log_path, errors="replace") as log:
        lines = log.readlines()[int(mark):]
    local = time.localtime(float(sent))
    sent_at = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec + float(sent) % 1
    for line in lines:
        if "SPEECH OUTPUT:" in line and text in line:
            hours, minutes, at = line.split(" ", 1)[0].split(":")
            delay = (int(hours) * 3600 + int(minutes) * 60 + float(at) - sent_at) % 86400
            print("Orca said %r %.2f s after the input" % (text, delay))
            sys.exit(0 if delay <= float(seconds) else 1)
    print("Orca has not said %r" % text)
    sys.exit(1)


if __name__ == "__main__":
    commands = {"centre": command_centre, "tiles": command_tiles, "program": command_program,
                "outline": command_outline, "focus-ring": command_focus_ring,
                "starts": command_starts,
                "started": command_started, "enabled": command_enabled, "stops": command_stops, "slot": command_slot,
                "described": command_described, "menu": command_menu, "focused": command_focused,
                "keyboard": command_keyboard, "absent": command_absent,
                "rewritten": command_rewritten, "spoken": command_spoken,
                "datagrams": command_datagrams}
    commands[sys.argv[1]](sys.argv[2:])
