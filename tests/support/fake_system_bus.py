#!/usr/bin/python3
"""A system bus that stops answering: it listens on a socket of its own, lets the first N
connections through to a real, private dbus-daemon that it starts, and takes every later
connection without ever saying a word to it. N = 0 is a bus that is silent from the start, as a
hung bus daemon is.

    fake_system_bus.py SOCKET_PATH [--answer N]

Prints "ready" once it listens; ends on TERM or INT, stopping its dbus-daemon."""

import argparse
import os
import selectors
import signal
import socket
import subprocess
import sys


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
    options = parser.parse_args()

    daemon, real_path = (None, None)
    if options.answer > 0:
        daemon, real_path = start_real_bus()
    if os.path.exists(options.socket):
        os.unlink(options.socket)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(options.socket)
    listener.listen(64)
    listener.setblocking(False)

    selector = selectors.DefaultSelector()
    selector.register(listener, selectors.EVENT_READ, None)
    held = []      # silent connections, kept open and never read
    peers = {}     # socket -> its relay partner
    accepted = 0

    def stop(*_):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("ready", flush=True)
    try:
        while True:
            for key, _ in selector.select():
                if key.fileobj is listener:
                    client, _ = listener.accept()
                    accepted += 1
                    print(f"connection {accepted}: {'answered' if accepted <= options.answer else 'silent'}",
                          flush=True)
                    if accepted > options.answer:
                        held.append(client)
                        continue
                    bus = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                    bus.connect(real_path)
                    peers[client], peers[bus] = bus, client
                    for end in (client, bus):
                        selector.register(end, selectors.EVENT_READ, None)
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
