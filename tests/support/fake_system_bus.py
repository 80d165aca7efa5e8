#!/usr/bin/python3
"""A system bus that stops answering: it listens on a socket of its own, lets the first N
connections through to a real, private dbus-daemon that it starts, and takes every later
connection without ever saying a word to it. N = 0 is a bus that is silent from the start, as a
hung bus daemon is. With --hold S it answers only from S seconds after its first connection on, as
a bus on a loaded login does: the connections made until then are put through at that moment,
later ones at once.

    fake_system_bus.py SOCKET_PATH [--answer N] [--hold SECONDS]

Prints "real ADDRESS" (the dbus-daemon's own address) and then "ready" once it listens; ends on
TERM or INT, stopping its dbus-daemon."""

import argparse
import os
import selectors
import signal
import socket
import subprocess
import sys
import time


def start_real_bus():
    daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                              stdout=subprocess.PIPE, text=True)
    address = daemon.stdout.readline().strip()
    path = None
    for part in address.split(":", 1)[-1].split(","):
        key, _, value = part.partition("=")
        if key == "path":
            path = value
        elif key == "abstract":
            path = "\0" + value
    if not path:
        daemon.terminate()
        sys.exit(f"fake bus: dbus-daemon gave no socket path: {address!r}")
    return daemon, path


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("socket")
    parser.add_argument("--answer", type=int, default=0, help="connections let through before the silence")
    parser.add_argument("--hold", type=float, default=0, help="seconds after the first connection until it answers")
    options = parser.parse_args()

    daemon, real_path = (None, None)
    if options.answer > 0:
        daemon, real_path = start_real_bus()
        print(f"real unix:{'abstract=' + real_path[1:] if real_path.startswith(chr(0)) else 'path=' + real_path}",
              flush=True)
    if os.path.exists(options.socket):
        os.unlink(options.socket)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(options.socket)
    listener.listen(64)
    listener.setblocking(False)

    selector = selectors.DefaultSelector()
    selector.register(listener, selectors.EVENT_READ, None)
    held = []      # silent connections, kept open and never read
    waiting = []   # connections held until the bus answers
    answers_from = None  # when it answers, once the first connection came
    peers = {}     # socket -> its relay partner
    accepted = 0

    def put_through(client):
        bus = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        bus.connect(real_path)
        peers[client], peers[bus] = bus, client
        for end in (client, bus):
            selector.register(end, selectors.EVENT_READ, None)

    def stop(*_):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("ready", flush=True)
    try:
        while True:
            if waiting and answers_from <= time.monotonic():
                print(f"answering: {len(waiting)} connection(s) put through", flush=True)
                for client in waiting:
                    put_through(client)
                waiting.clear()
            timeout = max(0.0, answers_from - time.monotonic()) if waiting else None
            for key, _ in selector.select(timeout):
                if key.fileobj is listener:
                    client, _ = listener.accept()
                    accepted += 1
                    print(f"connection {accepted}: {'answered' if accepted <= options.answer else 'silent'}",
                          flush=True)
                    if accepted > options.answer:
                        held.append(client)
                    elif options.hold > 0 and (answers_from is None or time.monotonic() < answers_from):
                        answers_from = answers_from or time.monotonic() + options.hold
                        waiting.append(client)
                    else:
                        put_through(client)
                    continue
                end = key.fileobj
                try:
                    data = end.recv(65536)
                except OSError:
                    data = b""
                partner = peers.get(end)
                if data and partner is not None:
                    try:
                        partner.sendall(data)
                        continue
                    except OSError:
                        pass
                for closing in (end, partner):
                    if closing is None or closing not in peers:
                        continue
                    selector.unregister(closing)
                    peers.pop(closing, None)
                    closing.close()
    finally:
        if daemon:
            daemon.terminate()
            daemon.wait()
        listener.close()
        if os.path.exists(options.socket):
            os.unlink(options.socket)


if __name__ == "__main__":
    main()
