"""Minimal peers used to prove the lab's LAN carries what the application needs.

Every mode gives up after its time-out, so a broken lab fails a test instead of hanging it.
"""
import socket
import struct
import sys
import time


def say(text):
    print(text, flush=True)


def multicast_receive(group, port, interface, payload, timeout_s):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("0.0.0.0", port))
    membership = struct.pack("4s4si", socket.inet_aton(group), socket.inet_aton("0.0.0.0"),
                             socket.if_nametoindex(interface))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
    say("ready")
    deadline = time.monotonic() + timeout_s
    while True:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            say("timed out")
            return 1
        sock.settimeout(remaining)
        try:
            data, sender = sock.recvfrom(8192)
        except socket.timeout:
            continue
        if data == payload.encode():
            sock.sendto(b"ack " + data, sender)
            say("received from %s" % sender[0])
            return 0


def multicast_send(group, port, payload, timeout_s):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    sock.settimeout(0.1)
    deadline = time.monotonic() + timeout_s
    # The receiver answers by unicast; resending until then covers a datagram sent before
    # its membership took effect.
    while time.monotonic() < deadline:
        sock.sendto(payload.encode(), (group, port))
        try:
            data, sender = sock.recvfrom(8192)
        except socket.timeout:
            continue
        if data == b"ack " + payload.encode():
            say("acknowledged by %s" % sender[0])
            return 0
    say("timed out")
    return 1


def tcp_serve(address, port, timeout_s):
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((address, port))
    server.listen(1)
    server.settimeout(timeout_s)
    say("ready")
    try:
        conn, peer = server.accept()
    except socket.timeout:
        say("timed out")
        return 1
    with conn:
        conn.settimeout(timeout_s)
        line = conn.makefile("rb").readline().strip()
        conn.sendall(b"hello " + peer[0].encode() + b" " + line + b"\n")
    say("served %s" % peer[0])
    return 0


def tcp_connect(address, port, timeout_s):
    with socket.create_connection((address, port), timeout=timeout_s) as conn:
        conn.sendall(b"probe\n")
        say(conn.makefile("rb").readline().decode().strip())
    return 0


def main(argv):
    mode, args = argv[1], argv[2:]
    if mode == "multicast-receive":
        return multicast_receive(args[0], int(args[1]), args[2], args[3], float(args[4]))
    if mode == "multicast-send":
        return multicast_send(args[0], int(args[1]), args[2], float(args[3]))
    if mode == "tcp-serve":
        return tcp_serve(args[0], int(args[1]), float(args[2]))
    if mode == "tcp-connect":
        return tcp_connect(args[0], int(args[1]), float(args[2]))
    say("unknown mode " + mode)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
