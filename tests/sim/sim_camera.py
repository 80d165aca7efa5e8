#!/usr/bin/python3
"""A simulated phone camera for the live control channel (test tooling).

It speaks the phone side of the channel from the published formats only:
  - status datagrams ("announce" first, then "status") with "sessionId" and "seq", unicast to the
    desk and to the multicast group 239.255.71.42:45454, at --rate Hz;
  - the TCP identity probe on port 45455 (one byte 0x03 in, a 4-byte big-endian length and one
    status packet out);
  - the recording commands CLOCK_PING, PREPARE_TAKE, START_AT, STOP_TAKE and CANCEL_TAKE, and
    REQUEST_TRANSFER_MODE.
Fault switches: --duplicates, --reorder, --stale, --restart-every, --legacy, --udp-silent,
--probe MODE and --transfer MODE. Every datagram received and every reply sent is appended to
--log as one JSON line, so tests can check what reached the camera.

Run it only inside a private network namespace (the lab); it multicasts.
"""

import argparse
import json
import os
import signal
import socket
import struct
import sys
import threading
import time
import uuid

import sim_preview
import sim_pairing

GROUP = "239.255.71.42"
PORT = 45454
PROBE_PORT = 45455


def mono_ms():
    return time.clock_gettime(time.CLOCK_MONOTONIC) * 1000.0


def wall_ms():
    return int(time.time() * 1000)


class Camera:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.session = args.session or str(uuid.uuid4())
        self.seq = 0
        self.sent_packets = 0
        self.held = None  # a datagram held back to be sent out of order
        self.recording = False
        self.recording_since = 0
        self.take_id = ""
        self.take_busy = False
        self.finalizing = False
        self.prepared = None
        self.clip_ids = {}
        self.start_timer = None
        self.log_file = open(args.log, "a", buffering=1) if args.log else None
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("0.0.0.0", PORT))
        iface = socket.inet_aton(args.address) if args.address else socket.inet_aton("0.0.0.0")
        try:
            self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton(GROUP) + iface)
        except OSError:
            pass
        if args.address:
            self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, iface)
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
        self.stopping = threading.Event()
        self.preview = sim_preview.PreviewServer(args, log=self.log)
        self.pairing = sim_pairing.Pairing(self, args) if args.pair_invitation else None

    # --- log ---
    def log(self, **entry):
        if not self.log_file:
            return
        entry["atMs"] = wall_ms()
        with self.lock:
            self.log_file.write(json.dumps(entry, sort_keys=True) + "\n")

    # --- status ---
    def clock_ms(self):
        return mono_ms() + self.args.clock_offset_ms

    def payload(self):
        p = {
            "id": self.args.id,
            "name": self.args.name,
            "role": self.args.role,
            "recording": self.recording,
            "recordingSinceMs": self.recording_since,
            "takeId": self.take_id,
            "battery": 80,
            "freeGb": 12.5,
            "leftDb": -20.0,
            "rightDb": -21.5,
            "channels": 2,
            "quality": "seq-%d" % self.seq if self.args.echo_seq else "4K",
            "aspect": "16:9",
            "previewRotation": 0,
            "takeBusy": self.take_busy,
            "remoteControl": True,
            "finalizing": self.finalizing,
            "cameraReady": not (self.recording or self.take_busy or self.finalizing),
            "syncVersion": 1,
            "syncPrepareVersion": 2,
            "warmPrepare": True,
            "safeStopVersion": 1,
            "projectSyncVersion": 1,
            "previewCapabilities": {"v": 1, "transports": ["jpeg-tcp-v1"], "codecs": ["jpeg"],
                                    "requestModes": [4, 5], "persistentModes": [4, 5],
                                    "link": {"bandGHz": 5.0, "usableMbps": 80.5}},
        }
        return p

    def status_bytes(self, kind="status", seq=None):
        envelope = {"v": 1, "type": kind, "sender": self.args.id, "payload": self.payload()}
        if self.args.legacy:
            envelope["sentMs"] = wall_ms()
        else:
            envelope["sessionId"] = self.session
            envelope["seq"] = self.seq if seq is None else seq
            envelope["sentMs"] = wall_ms()
        return json.dumps(envelope).encode()

    def send_to_desk(self, data):
        destinations = []
        if self.args.desk:
            destinations.append(self.args.desk)
        if not self.args.no_multicast:
            destinations.append(GROUP)
        for host in destinations:
            try:
                self.sock.sendto(data, (host, PORT))
            except OSError as error:
                self.log(event="send-error", host=host, error=str(error))

    def announce_once(self):
        with self.lock:
            self.seq += 1
            if self.args.restart_every and self.seq % self.args.restart_every == 0:
                self.session = str(uuid.uuid4())
                self.log_file and self.log_file.write(json.dumps({"event": "restart", "session": self.session}) + "\n")
            kind = "announce" if self.sent_packets == 0 else "status"
            data = self.status_bytes(kind)
            stale = None
            if self.args.stale and self.seq > 3 and self.seq % 3 == 0:
                stale = self.status_bytes("status", seq=self.seq - 3)
            self.sent_packets += 1
        if self.args.udp_silent:
            return
        if self.args.reorder:
            if self.held is None:
                self.held = data
                return
            self.send_to_desk(data)
            self.send_to_desk(self.held)
            self.held = None
        else:
            self.send_to_desk(data)
            if self.args.duplicates:
                self.send_to_desk(data)
        if stale:
            self.send_to_desk(stale)

    def status_loop(self):
        interval = 1.0 / self.args.rate
        while not self.stopping.is_set():
            self.announce_once()
            self.stopping.wait(interval)

    # --- identity probe ---
    def probe_loop(self):
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        server.bind(("0.0.0.0", PROBE_PORT))
        server.listen(64)
        server.settimeout(0.2)
        while not self.stopping.is_set():
            try:
                conn, peer = server.accept()
            except socket.timeout:
                continue
            threading.Thread(target=self.answer_probe, args=(conn, peer), daemon=True).start()
        server.close()

    def answer_probe(self, conn, peer):
        conn.settimeout(2.0)
        try:
            request = conn.recv(1)
            if request and request[0] in (1, 2, 4, 5):
                return self.preview.serve(conn, peer, request[0])
            self.log(event="probe", src=peer[0], request=request.hex())
            if request != b"\x03":
                return
            mode = self.args.probe
            with self.lock:
                body = self.status_bytes("status")
            if mode == "silent":
                time.sleep(1.5)
                return
            if mode == "len0":
                conn.sendall(struct.pack(">I", 0))
            elif mode == "len8193":
                conn.sendall(struct.pack(">I", 8193) + b" " * 8193)
            elif mode == "short":
                conn.sendall(struct.pack(">I", len(body) + 10) + body)
                time.sleep(1.5)
            else:
                conn.sendall(struct.pack(">I", len(body)) + body)
        except OSError:
            pass
        finally:
            conn.close()

    # --- commands ---
    def reply(self, host, director, action, **fields):
        payload = {"action": action, "target": director}
        payload.update(fields)
        envelope = {"v": 1, "type": "command", "sender": self.args.id, "sentMs": wall_ms(), "payload": payload}
        if not self.args.legacy:
            envelope["sessionId"] = self.session
        self.sock.sendto(json.dumps(envelope).encode(), (host, PORT))
        self.log(event="reply", action=action, dst=host, payload=payload)

    def command_loop(self):
        self.sock.settimeout(0.2)
        while not self.stopping.is_set():
            try:
                data, (host, _port) = self.sock.recvfrom(9000)
            except socket.timeout:
                continue
            except OSError:
                break
            try:
                message = json.loads(data)
            except ValueError:
                continue
            if not isinstance(message, dict):
                continue
            self.log(event="received", src=host, message=message)
            if self.pairing and self.pairing.on_datagram(host, data, message):
                continue
            if message.get("type") != "command" or not isinstance(message.get("payload"), dict):
                continue
            payload = message["payload"]
            target = payload.get("target")
            if target not in (None, "", self.args.id):
                continue
            self.handle(host, message.get("sender", ""), payload)

    def handle(self, host, director, p):
        action = p.get("action")
        if action == "CLOCK_PING":
            now = self.clock_ms()
            self.reply(host, director, "CLOCK_PONG", requestId=p.get("requestId", ""), t1=p.get("t1"), t2=now, t3=now)
        elif action == "PREPARE_TAKE":
            take = p.get("takeId", "")
            clip = self.clip_ids.setdefault(take, str(uuid.uuid4()))
            with self.lock:
                self.prepared = dict(p)
            echo = {k: p.get(k) for k in ("takeId", "directorId", "prepareCommandId", "projectId",
                                          "projectNameAtCapture", "projectRevisionAtCapture", "createdAt",
                                          "referenceCameraId", "timelineFPS")}
            self.reply(host, director, "PREPARE_ACK", requestId=p.get("requestId", ""), ready=True,
                       projectAssignmentStored=True, assignmentStoredMonoMs=self.clock_ms(), clipId=clip, **echo)
        elif action == "START_AT":
            take = p.get("takeId", "")
            self.reply(host, director, "START_ACK", requestId=p.get("requestId", ""), takeId=take, accepted=True)
            start = p.get("startMonoMs")
            if isinstance(start, (int, float)) and not isinstance(start, bool) and self.start_timer is None:
                delay = max(0.0, (start - self.clock_ms()) / 1000.0)
                self.log(event="start-scheduled", takeId=take, startMonoMs=start, delayMs=delay * 1000)
                self.start_timer = threading.Timer(delay, self.begin_recording, args=(take,))
                self.start_timer.start()
        elif action == "STOP_TAKE":
            request = p.get("requestId")
            take = p.get("takeId", "")
            if isinstance(request, str) and request:
                self.reply(host, director, "STOP_ACK", requestId=request, takeId=take, accepted=True,
                           finalizing=self.recording or self.finalizing)
            self.end_recording()
        elif action == "CANCEL_TAKE":
            with self.lock:
                if self.start_timer:
                    self.start_timer.cancel()
                    self.start_timer = None
                self.prepared = None
            self.end_recording()
        elif action == "REQUEST_TRANSFER_MODE":
            self.handle_transfer(host, director, p)

    def begin_recording(self, take):
        with self.lock:
            self.start_timer = None
            self.recording = True
            self.take_busy = True
            self.take_id = take
            self.recording_since = wall_ms()
        self.log(event="recording", takeId=take)
        self.announce_once()

    def end_recording(self):
        with self.lock:
            was_recording = self.recording
            self.recording = False
            self.finalizing = was_recording
            if not was_recording:
                self.take_busy = False
        self.announce_once()
        if was_recording:
            threading.Timer(0.3, self.finish_saving).start()

    def finish_saving(self):
        with self.lock:
            self.finalizing = False
            self.take_busy = False
        self.log(event="idle")
        self.announce_once()

    def handle_transfer(self, host, director, p):
        request = p.get("requestId", "")
        mode = self.args.transfer
        if mode == "silent":
            return
        self.reply(host, director, "TRANSFER_MODE_PENDING", requestId=request)
        if mode == "pending":
            return

        def acknowledge():
            if mode == "accept":
                self.reply(host, director, "TRANSFER_MODE_ACK", requestId=request, accepted=True)
            elif mode.startswith("error:"):
                self.reply(host, director, "TRANSFER_MODE_ACK", requestId=request, accepted=False, error=mode[6:])
            else:
                self.reply(host, director, "TRANSFER_MODE_ACK", requestId=request, accepted=False)

        threading.Timer(0.2, acknowledge).start()

    def run(self):
        threads = [threading.Thread(target=self.command_loop, daemon=True),
                   threading.Thread(target=self.probe_loop, daemon=True),
                   threading.Thread(target=self.status_loop, daemon=True)]
        for thread in threads:
            thread.start()
        self.log(event="started", session=self.session)
        if self.pairing:
            self.pairing.start()
        try:
            while not self.stopping.wait(0.5):
                pass
        finally:
            for thread in threads:
                thread.join(timeout=1.0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--id", required=True)
    parser.add_argument("--name", default=None)
    parser.add_argument("--role", default="CAMERA")
    parser.add_argument("--address", default=None, help="this camera's own IPv4 address (multicast interface)")
    parser.add_argument("--desk", default=None, help="unicast destination of status datagrams")
    parser.add_argument("--rate", type=float, default=4.0, help="status datagrams per second (2 to 5)")
    parser.add_argument("--session", default=None)
    parser.add_argument("--clock-offset-ms", type=float, default=0.0)
    parser.add_argument("--duplicates", action="store_true")
    parser.add_argument("--reorder", action="store_true")
    parser.add_argument("--stale", action="store_true")
    parser.add_argument("--restart-every", type=int, default=0)
    parser.add_argument("--legacy", action="store_true")
    parser.add_argument("--udp-silent", action="store_true")
    parser.add_argument("--no-multicast", action="store_true")
    parser.add_argument("--echo-seq", action="store_true", help="report the sequence number as the quality text")
    parser.add_argument("--probe", default="ok", choices=["ok", "len0", "len8193", "short", "silent"])
    parser.add_argument("--transfer", default="accept", help="accept, decline, error:TEXT, pending or silent")
    parser.add_argument("--log", default=None)
    sim_preview.add_arguments(parser)
    sim_pairing.add_arguments(parser)
    args = parser.parse_args()
    if args.name is None:
        args.name = args.id
    camera = Camera(args)
    camera.preview.stopping = camera.stopping
    signal.signal(signal.SIGTERM, lambda *_: camera.stopping.set())
    signal.signal(signal.SIGINT, lambda *_: camera.stopping.set())
    camera.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
