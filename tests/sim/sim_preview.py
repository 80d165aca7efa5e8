#!/usr/bin/python3
"""The simulated phone camera's preview service on TCP port 45455 (test tooling).

Written from the phone's side of the wire format only: the Director sends one request byte,
  1 / 2  legacy wall / selected: one frame, then the camera closes;
  4 / 5  persistent wall / selected: frames one after another at --fps until the Director closes;
and every frame is a 4-byte big-endian length followed by that many bytes of JPEG. Frames are
made by ffmpeg when the server starts (wall 640x360, selected 1280x720), or read from
--frames-dir when it already holds them.

sim_camera.py hands its connections with those request bytes to PreviewServer.serve(); run on
its own (main below) this file is a preview-only camera on --address:--port, for tests on
loopback. Faults (--preview-fault): refuse (reset at once), silent (accept, never answer),
persistent-refused (reset 4/5, answer 1/2), bad-length (--bad-length N as the header),
bad-jpeg (markers right, content undecodable), huge-dimensions (a 2 MiB JPEG declaring
65535x65535), max-size (a valid frame of exactly 2 MiB), trickle (each frame dribbled out over
--trickle-seconds). --stop-after K closes a stream after K frames; --pause-after K then waits
--pause-seconds before the next frame. Each connection is appended to --preview-log as JSON lines.
"""

import argparse
import glob
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

LEGACY = {1: "wall", 2: "selected"}
PERSISTENT = {4: "wall", 5: "selected"}
SIZES = {"wall": "640x360", "selected": "1280x720"}
FRAME_COUNT = 30
MAX_FRAME = 2 * 1024 * 1024
FAULTS = ["none", "refuse", "silent", "persistent-refused", "bad-length", "bad-jpeg", "huge-dimensions", "max-size",
          "trickle"]


def add_arguments(parser):
    parser.add_argument("--frames-dir", default=None, help="where the ffmpeg frames are kept (made when missing)")
    parser.add_argument("--fps", type=float, default=30.0, help="frames a second of a persistent stream")
    parser.add_argument("--preview-fault", default="none", choices=FAULTS)
    parser.add_argument("--bad-length", type=int, default=0)
    parser.add_argument("--trickle-seconds", type=float, default=4.0)
    parser.add_argument("--stop-after", type=int, default=0, help="close a stream after this many frames")
    parser.add_argument("--pause-after", type=int, default=0)
    parser.add_argument("--pause-seconds", type=float, default=0.0)
    parser.add_argument("--preview-log", default=None)


def make_frames(directory):
    """Returns {profile: [jpeg bytes]}, making the frames with ffmpeg unless the folder has them."""
    def load(folder):
        frames = {}
        for profile in SIZES:
            paths = sorted(glob.glob(os.path.join(folder, profile + "_*.jpg")))
            if len(paths) < FRAME_COUNT:
                return None
            frames[profile] = [open(path, "rb").read() for path in paths]
        return frames

    if directory:
        existing = load(directory)
        if existing:
            return existing
    scratch = tempfile.mkdtemp(prefix="sim-preview-")
    for profile, size in SIZES.items():
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=%s:rate=30" % size,
                        "-frames:v", str(FRAME_COUNT), "-q:v", "5", os.path.join(scratch, profile + "_%03d.jpg")],
                       check=True)
    frames = load(scratch)
    if directory:
        # Several cameras may start at once: the first complete folder wins, atomically.
        parent = os.path.dirname(os.path.abspath(directory))
        os.makedirs(parent, exist_ok=True)
        try:
            os.rename(scratch, directory)
            return frames
        except OSError:
            pass
    shutil.rmtree(scratch, ignore_errors=True)
    return frames


def pad_with_comments(jpeg, total):
    """The same image grown to `total` bytes with comment segments after the start marker."""
    missing = total - len(jpeg)
    segments = []
    while missing > 0:
        if missing < 4:
            raise ValueError("cannot pad by fewer than 4 bytes")
        body = min(missing - 4, 65533)
        if 0 < missing - body - 4 < 4:
            body -= 4
        segments.append(b"\xff\xfe" + struct.pack(">H", body + 2) + b"\x00" * body)
        missing -= body + 4
    return jpeg[:2] + b"".join(segments) + jpeg[2:]


def declare_dimensions(jpeg, width, height):
    """The same bytes with the first start-of-frame segment's size replaced."""
    i = 2
    data = bytearray(jpeg)
    while i + 4 <= len(data):
        marker = data[i + 1]
        length = (data[i + 2] << 8) | data[i + 3]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            data[i + 5:i + 9] = struct.pack(">HH", height, width)
            return bytes(data)
        i += 2 + length
    return bytes(data)


class PreviewServer:
    def __init__(self, args, log=None):
        self.args = args
        self.frames = None  # made at the first preview request, so cameras that serve none start fast
        self.special = None
        self.lock = threading.Lock()
        self.log_file = open(args.preview_log, "a", buffering=1) if args.preview_log else None
        self.external_log = log
        self.stopping = threading.Event()

    def prepare(self):
        with self.lock:
            if self.frames is not None:
                return
            self.frames = make_frames(self.args.frames_dir)
            fault = self.args.preview_fault
            if fault == "huge-dimensions":
                self.special = pad_with_comments(declare_dimensions(self.frames["wall"][0], 65535, 65535), MAX_FRAME)
            elif fault == "max-size":
                self.special = pad_with_comments(self.frames["wall"][0], MAX_FRAME)
            elif fault == "bad-jpeg":
                self.special = b"\xff\xd8" + b"\x00not a picture\x00" * 64 + b"\xff\xd9"

    def log(self, **entry):
        entry["atMs"] = int(time.time() * 1000)
        if self.log_file:
            with self.lock:
                self.log_file.write(json.dumps(entry, sort_keys=True) + "\n")

    def frame(self, profile, index):
        if self.special is not None:
            return self.special
        frames = self.frames[profile]
        return frames[index % len(frames)]

    def send_frame(self, conn, payload):
        fault = self.args.preview_fault
        if fault == "bad-length":
            conn.sendall(struct.pack(">I", self.args.bad_length & 0xFFFFFFFF))
            return
        data = struct.pack(">I", len(payload)) + payload
        if fault == "trickle":
            pieces = 40
            step = max(1, len(data) // pieces)
            pause = self.args.trickle_seconds / pieces
            for offset in range(0, len(data), step):
                conn.sendall(data[offset:offset + step])
                time.sleep(pause)
            return
        conn.sendall(data)

    @staticmethod
    def reset(conn):
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))

    def serve(self, conn, peer, request):
        """Answers one preview connection whose request byte has been read."""
        fault = self.args.preview_fault
        persistent = request in PERSISTENT
        profile = PERSISTENT.get(request) or LEGACY.get(request)
        sent = 0
        outcome = "done"
        try:
            if profile is None:
                outcome = "unknown-request"
                return
            self.prepare()
            if fault == "refuse" or (fault == "persistent-refused" and persistent):
                outcome = "refused"
                self.reset(conn)
                return
            if fault == "silent":
                outcome = "silent"
                conn.settimeout(10.0)
                try:
                    conn.recv(1)
                except OSError:
                    pass
                return
            conn.settimeout(10.0)
            if not persistent:
                self.send_frame(conn, self.frame(profile, 0))
                sent = 1
                return
            interval = 1.0 / self.args.fps if self.args.fps > 0 else 0.0
            next_at = time.monotonic()
            while not self.stopping.is_set():
                self.send_frame(conn, self.frame(profile, sent))
                sent += 1
                if fault == "bad-length":
                    time.sleep(0.5)
                    break
                if self.args.stop_after and sent >= self.args.stop_after:
                    outcome = "stopped"
                    break
                if self.args.pause_after and sent == self.args.pause_after:
                    time.sleep(self.args.pause_seconds)
                next_at += interval
                delay = next_at - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
                else:
                    next_at = time.monotonic()
        except OSError:
            outcome = "closed-by-peer"
        finally:
            self.log(event="preview", src=peer[0], request=request, frames=sent, outcome=outcome)
            if self.external_log:
                self.external_log(event="preview", src=peer[0], request=request, frames=sent, outcome=outcome)
            try:
                conn.close()
            except OSError:
                pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=45455, help="0 picks a free port")
    parser.add_argument("--port-file", default=None, help="where the bound port is written once listening")
    add_arguments(parser)
    args = parser.parse_args()
    server = PreviewServer(args)
    server.prepare()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.address, args.port))
    listener.listen(64)
    listener.settimeout(0.2)
    if args.port_file:
        temporary = args.port_file + ".tmp"
        with open(temporary, "w") as handle:
            handle.write(str(listener.getsockname()[1]))
        os.rename(temporary, args.port_file)
    signal.signal(signal.SIGTERM, lambda *_: server.stopping.set())
    signal.signal(signal.SIGINT, lambda *_: server.stopping.set())

    def answer(conn, peer):
        conn.settimeout(2.0)
        try:
            request = conn.recv(1)
        except OSError:
            request = b""
        if not request:
            conn.close()
            return
        server.serve(conn, peer, request[0])

    while not server.stopping.is_set():
        try:
            conn, peer = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=answer, args=(conn, peer), daemon=True).start()
    listener.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
