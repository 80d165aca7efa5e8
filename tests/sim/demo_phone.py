#!/usr/bin/python3
"""One whole simulated phone for the demo (scripts/run) and the real-window test (test tooling).

Inside one lab phone namespace it runs, side by side:
  - the live camera (sim_camera.py): status datagrams, identity probes and, when this tree has
    the preview server (sim_preview.py), moving preview frames on port 45455;
  - the HTTPS transfer service (phone_https.py) on --address:--port with a random pairing code
    (or --code), serving a catalog of one project, "Demo Shoot", whose take "take-001" holds this
    phone's clip: a short real recording made by ffmpeg once and kept in --media;
  - the DNS-SD advertisement of that service (avahi-publish on the phone's own bus, taken from
    DBUS_SYSTEM_BUS_ADDRESS).
It prints the phone's name, pairing code and fingerprint (as the desk's pairing sheet shows it) on
stdout, and keeps --request-log (the HTTPS requests the phone received, one JSON object a line) up
to date. With --identity the phone keeps its certificate and device id in that folder, so that it
is the same phone at every start, as a real one is, and a library that holds its clips takes them
again; its pairing code is new at each start (a code is single-use). TERM ends it and
everything it started.

Run it only inside a private network namespace (the lab); it multicasts.
"""

import argparse
import datetime
import json
import os
import signal
import subprocess
import sys
import threading
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
PROJECT_ID = "5d8a0c1e-3b7f-4e2a-9c61-0f4b2d7e8a11"
PROJECT_NAME = "Demo Shoot"
TAKE_ID = "take-001"
CLIP_SECONDS = 4
# The first phone records the reference camera; the others carry timing anchors against it.
ANCHOR_SOURCES = [0.2, 1.0, 2.0, 3.0, 3.8]
ANCHOR_OFFSET = 0.1


def make_clip(media_dir, index):
    """The phone's recording, made once by ffmpeg and kept for later runs."""
    os.makedirs(media_dir, exist_ok=True)
    path = os.path.join(media_dir, "phone%d.mov" % index)
    if os.path.exists(path):
        return path
    partial = path + ".part-%d" % os.getpid()
    hue = (index - 1) * 120
    subprocess.run(
        ["ffmpeg", "-nostdin", "-v", "error", "-y",
         "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=%d" % CLIP_SECONDS,
         "-f", "lavfi", "-i", "sine=frequency=%d:duration=%d" % (330 + 110 * index, CLIP_SECONDS),
         "-vf", "hue=h=%d" % hue, "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
         "-c:a", "aac", "-shortest", "-f", "mov", partial],
        check=True)
    os.replace(partial, path)
    return path


class Transfer:
    """phone_https.py steered over its standard input."""

    def __init__(self, work, address, port, identity):
        self.lock = threading.Lock()
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "phone_https.py"), "--dir", work, "--host", address,
             "--port", str(port)] + (["--identity", identity] if identity else []),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.hello = json.loads(self.process.stdout.readline())

    def command(self, **fields):
        with self.lock:
            self.process.stdin.write(json.dumps(fields) + "\n")
            self.process.stdin.flush()
            answer = json.loads(self.process.stdout.readline())
        if not answer.get("ok"):
            raise RuntimeError("phone: %s" % answer)
        return answer


def catalog(args, device_id, clip_entry):
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    take = {"takeId": TAKE_ID, "projectId": PROJECT_ID, "projectNameAtCapture": PROJECT_NAME,
            "projectRevisionAtCapture": 1, "createdAt": "2026-01-10T10:00:00Z",
            "referenceCameraId": args.reference_camera, "timelineFPS": "30/1", "clips": [clip_entry]}
    return {"schemaVersion": 1, "deviceId": device_id, "deviceName": args.name, "catalogRevision": 1,
            "generatedAt": now,
            "projects": [{"projectId": PROJECT_ID, "name": PROJECT_NAME, "revision": 1, "takes": [take]}]}


def grouped(fingerprint):
    """The fingerprint as the pairing sheet shows it: its first 32 digits in groups of 4, upper case."""
    return " ".join(fingerprint[i:i + 4].upper() for i in range(0, 32, 4))


def main():
    parser = argparse.ArgumentParser(description="A whole simulated phone for the demo")
    parser.add_argument("--index", type=int, required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--camera-id", required=True)
    parser.add_argument("--reference-camera", required=True)
    parser.add_argument("--address", required=True)
    parser.add_argument("--desk", required=True)
    parser.add_argument("--port", type=int, default=8443)
    parser.add_argument("--code", default=None, help="the six-digit pairing code (random when absent)")
    parser.add_argument("--work", required=True, help="this phone's own folder")
    parser.add_argument("--media", required=True, help="where the recordings are made once and kept")
    parser.add_argument("--identity", default=None, help="keep the phone's certificate and device id here")
    parser.add_argument("--request-log", default=None)
    parser.add_argument("--no-avahi", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)

    clip_path = make_clip(args.media, args.index)
    transfer = Transfer(args.work, args.address, args.port, args.identity)
    hello = transfer.hello
    code = args.code or "%06d" % (int.from_bytes(os.urandom(4), "big") % 1000000)
    transfer.command(cmd="config", pairingCode=code)

    clip_id = str(uuid.uuid5(uuid.NAMESPACE_URL, "kestova-demo/%s/%s" % (TAKE_ID, args.camera_id)))
    media = transfer.command(cmd="file", clipId=clip_id, path=clip_path)
    sidecar_text = json.dumps({"clipId": clip_id, "cameraId": args.camera_id, "takeId": TAKE_ID})
    sidecar = transfer.command(cmd="sidecar", clipId=clip_id, text=sidecar_text)
    route = "/velk/v1/files/" + clip_id
    entry = {"clipId": clip_id, "cameraId": args.camera_id, "fileName": "%s.mov" % args.camera_id,
             "sizeBytes": media["size"], "sha256": media["sha256"], "finalized": True, "mediaKind": "video",
             "hasVideo": True, "hasAudio": True, "downloadURL": route,
             "timingSidecarURL": route + ".timing.json", "timingSidecarSHA256": sidecar["sha256"]}
    if args.camera_id != args.reference_camera:
        entry["anchorMeaning"] = "same-event-reference-media-seconds"
        entry["anchors"] = [{"source_seconds": s, "reference_seconds": s + ANCHOR_OFFSET, "confidence": 0.95,
                             "uncertainty_ms": 1.0} for s in ANCHOR_SOURCES]
    transfer.command(cmd="catalog", body=catalog(args, hello["deviceId"], entry))

    children = [transfer.process]
    if not args.no_avahi:
        children.append(subprocess.Popen(
            ["avahi-publish", "-s", args.name, "_velk-transfer._tcp", str(hello["port"]),
             "fp=" + hello["fingerprint"], "sessionId=" + hello["sessionId"], "deviceId=" + hello["deviceId"],
             "foreground=1", "projectsDelete=trash-v1"],
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(args.work, "avahi-publish.log"), "w")))
    camera = [sys.executable, os.path.join(HERE, "sim_camera.py"), "--id", args.camera_id, "--name", args.name,
              "--address", args.address, "--desk", args.desk, "--log", os.path.join(args.work, "camera.log")]
    if os.path.exists(os.path.join(HERE, "sim_preview.py")):
        camera += ["--frames-dir", os.path.join(args.media, "frames-%d" % args.index)]
    children.append(subprocess.Popen(camera, stdout=subprocess.DEVNULL,
                                     stderr=open(os.path.join(args.work, "camera.err"), "w")))

    print("%s: pairing code %s, fingerprint %s" % (args.name, code, grouped(hello["fingerprint"])), flush=True)
    with open(os.path.join(args.work, "phone.json"), "w") as out:
        json.dump({"name": args.name, "code": code, "fingerprint": hello["fingerprint"],
                   "deviceId": hello["deviceId"], "clipId": clip_id, "cameraId": args.camera_id}, out)

    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    signal.signal(signal.SIGINT, lambda *_: stopping.set())
    try:
        while not stopping.wait(0.5):
            if any(child.poll() is not None for child in children):
                print("%s: a part of the phone stopped" % args.name, file=sys.stderr, flush=True)
                break
            if args.request_log:
                requests = transfer.command(cmd="log")["log"]
                partial = args.request_log + ".part"
                with open(partial, "w") as out:
                    for request in requests:
                        out.write(json.dumps({"method": request["method"], "path": request["path"]}) + "\n")
                os.replace(partial, args.request_log)
    finally:
        for child in children:
            if child.poll() is None:
                child.terminate()
        for child in children:
            try:
                child.wait(timeout=5)
            except subprocess.TimeoutExpired:
                child.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
