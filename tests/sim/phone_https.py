#!/usr/bin/python3
"""Simulated phone camera: the HTTPS transfer service side.

Test tooling only. It is written from the phone's side of the transfer service (pairing, catalog,
clip files with byte ranges, timing sidecars, session end, project delete) and shares no code
with the application.

Start:
    /usr/bin/python3 tests/sim/phone_https.py --dir TMPDIR [--host 127.0.0.1] [--port 0] [--chain]
                                              [--identity FOLDER]

It makes a self-signed P-256 certificate in TMPDIR (with --chain: a root, an intermediate and a
leaf signed by it, all three presented) and listens for TLS on host:port (port 0 picks a free
one). With --identity the phone is the same phone at every start, as a real one is: its
certificate, key and device id are made in FOLDER at the first start and read from it at every
later one (the session id is new at each start, and a pairing code is single-use anyway). Bind
only to loopback or to an address inside a private network namespace. The first line it prints
on stdout is JSON:
    {"port": N, "fingerprint": "<leaf sha256 hex>", "rootFingerprint": ..., "intermediateFingerprint": ...,
     "deviceId": ..., "sessionId": ...}

It is then steered by JSON commands on stdin, one per line; each is answered by one JSON line on
stdout ({"ok": true, ...} or {"ok": false, "error": ...}):
    {"cmd": "config", "pairingCode": "123456", "deviceId": ..., "sessionId": ..., "bearerToken": ...,
     "open": false, "expiresInSeconds": 900}
        phone state; "open": true accepts requests without a bearer token.
    {"cmd": "file", "clipId": ID, "size": N}           a clip file of N pseudo-random bytes
    {"cmd": "file", "clipId": ID, "text": "..."}       a clip file with this content
    {"cmd": "file", "clipId": ID, "path": "..."}       a clip file with the content of this file (mapped,
                                                       not copied, so clips of gigabytes cost no memory)
    {"cmd": "sidecar", "clipId": ID, "text": "..."}    the clip's timing sidecar
        both answer {"ok": true, "sha256": "<hex>", "size": N}
    {"cmd": "catalog", "body": {...}}                   the catalog document served as is
    {"cmd": "fault", "route": ROUTE, "fault": NAME, "value": V, "times": T}
        switches a fault on for ROUTE, for the next T requests of that route (default: until cleared).
    {"cmd": "clear"}                                    all faults off, request log emptied
    {"cmd": "log"}                                      {"ok": true, "log": [request, ...]}; each request has
        "method", "path", "headers" (lower-case names), "body", "connection" (a number per TLS connection)
    {"cmd": "quit"}

Routes: "pair" (POST /velk/v1/pair), "catalog" (GET /velk/v1/catalog), "files" (GET
/velk/v1/files/<clipId>), "sidecar" (GET /velk/v1/files/<clipId>.timing.json), "end" (POST
/velk/v1/session/end), "delete" (POST /velk/v1/projects/delete).

Faults (value in brackets):
    status [code]             answer with this status and an empty body
    full200                   files: answer a range request with 200 and the whole file
    dropHeader [name]         leave this reply header out
    header [[name, value]]    send this value for a reply header (added when absent)
    shortBody [n]             send n bytes fewer than declared, then close the connection
    longBody [n]              send n bytes more than the range (declared length matches the body)
    noLength                  declare no length; the body ends when the connection closes
    redirect [location]       answer 302 with this Location
    slowBody [seconds]        wait this long after the headers before sending the body
    dropMidBody               send the headers and half the body, then close the connection
    failConnection            close the connection without any reply
    pairField [[key, value]]  pair: this member of the grant takes this value (null removes it)
    trashReply [[key, value]] delete: this member of the confirmation takes this value (null removes it)
    rawBody [text]            send exactly this body (declared length matches)
"""

import argparse
import base64
import datetime
import hashlib
import http.server
import itertools
import json
import mmap
import os
import random
import secrets
import socket
import ssl
import sys
import threading
import uuid

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

FILES_PREFIX = "/velk/v1/files/"
SIDECAR_SUFFIX = ".timing.json"


def make_certificate(common_name, key, issuer_name, issuer_key, is_ca, days):
    now = datetime.datetime.now(datetime.timezone.utc)
    builder = (
        x509.CertificateBuilder()
        .subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common_name)]))
        .issuer_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, issuer_name)]))
        .public_key(key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(now - datetime.timedelta(minutes=5))
        .not_valid_after(now + datetime.timedelta(days=days))
        .add_extension(x509.BasicConstraints(ca=is_ca, path_length=None), critical=True)
    )
    return builder.sign(issuer_key, hashes.SHA256())


def der_sha256(certificate):
    return hashlib.sha256(certificate.public_bytes(serialization.Encoding.DER)).hexdigest()


def write_identity(folder, chain, days=2):
    leaf_key = ec.generate_private_key(ec.SECP256R1())
    if chain:
        root_key = ec.generate_private_key(ec.SECP256R1())
        root = make_certificate("Sim Root", root_key, "Sim Root", root_key, True, days)
        inter_key = ec.generate_private_key(ec.SECP256R1())
        inter = make_certificate("Sim Intermediate", inter_key, "Sim Root", root_key, True, days)
        leaf = make_certificate("phone.local", leaf_key, "Sim Intermediate", inter_key, False, days)
        certificates = [leaf, inter, root]
    else:
        certificates = [make_certificate("phone.local", leaf_key, "phone.local", leaf_key, False, days)]
    cert_path = os.path.join(folder, "phone-cert.pem")
    key_path = os.path.join(folder, "phone-key.pem")
    write_file(cert_path, b"".join(c.public_bytes(serialization.Encoding.PEM) for c in certificates))
    write_file(key_path, leaf_key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                                serialization.NoEncryption()))
    return cert_path, key_path, fingerprints_of(certificates)


def write_file(path, data):
    partial = "%s.part-%d" % (path, os.getpid())
    with open(partial, "wb") as out:
        out.write(data)
    os.replace(partial, path)


def fingerprints_of(certificates):
    """The leaf's fingerprint, and with a chain (leaf, intermediate, root) the other two."""
    fingerprints = {"fingerprint": der_sha256(certificates[0])}
    if len(certificates) == 3:
        fingerprints["intermediateFingerprint"] = der_sha256(certificates[1])
        fingerprints["rootFingerprint"] = der_sha256(certificates[2])
    return fingerprints


def kept_identity(folder, chain):
    """The certificate, key, fingerprints and device id kept in folder; made there when missing."""
    cert_path = os.path.join(folder, "phone-cert.pem")
    key_path = os.path.join(folder, "phone-key.pem")
    record = os.path.join(folder, "identity.json")
    try:
        with open(cert_path, "rb") as source:
            blocks = source.read().split(b"-----END CERTIFICATE-----")[:-1]
        certificates = [x509.load_pem_x509_certificate(block + b"-----END CERTIFICATE-----") for block in blocks]
        with open(key_path, "rb") as source:
            key = serialization.load_pem_private_key(source.read(), None)
        with open(record) as source:
            device_id = str(uuid.UUID(json.load(source)["deviceId"]))
        if (len(certificates) == (3 if chain else 1)
                and key.public_key().public_numbers() == certificates[0].public_key().public_numbers()):
            return cert_path, key_path, fingerprints_of(certificates), device_id
    except (OSError, ValueError, KeyError, TypeError, AttributeError):
        pass
    os.makedirs(folder, exist_ok=True)
    # A phone keeps its certificate for years; the desk pins it and never looks at its dates.
    cert_path, key_path, fingerprints = write_identity(folder, chain, days=3650)
    device_id = str(uuid.uuid4())
    write_file(record, json.dumps({"deviceId": device_id}).encode())
    return cert_path, key_path, fingerprints, device_id


class Phone:
    def __init__(self, fingerprint, device_id=None):
        self.lock = threading.Lock()
        self.fingerprint = fingerprint
        self.pairing_code = "123456"
        self.device_id = device_id or str(uuid.uuid4())
        self.session_id = str(uuid.uuid4())
        self.bearer_token = secrets.token_urlsafe(32)
        self.open = False
        self.expires_in_seconds = 900
        self.files = {}  # clip id -> (bytes, SHA-256 hex)
        self.sidecars = {}
        self.catalog = {"schemaVersion": 1, "deviceId": self.device_id, "deviceName": "Sim Phone",
                        "catalogRevision": 1, "projects": []}
        self.faults = {}
        self.log = []

    def take_faults(self, route):
        """The faults active for one request of a route; counted ones are used up."""
        with self.lock:
            active = {}
            for name, entry in list(self.faults.get(route, {}).items()):
                active[name] = entry["value"]
                if entry["times"] is not None:
                    entry["times"] -= 1
                    if entry["times"] <= 0:
                        del self.faults[route][name]
            return active


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "SimPhone"
    sys_version = ""

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        self.connection_number = next(self.server.connection_numbers)

    # --- plumbing ---

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def record(self, body):
        entry = {"method": self.command, "path": self.path,
                 "headers": {k.lower(): v for k, v in self.headers.items()},
                 "body": body.decode("utf-8", "replace"), "connection": self.connection_number}
        with self.server.phone.lock:
            self.server.phone.log.append(entry)

    def close_now(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def send(self, status, body=b"", headers=None, faults=None):
        faults = faults or {}
        headers = list(headers or [])
        if "failConnection" in faults:
            self.close_now()
            return
        if "redirect" in faults:
            status, body, headers = 302, b"", [("Location", faults["redirect"])]
        if "status" in faults:
            status, body, headers = int(faults["status"]), b"", []
        if "rawBody" in faults:
            body = faults["rawBody"].encode()
        if "longBody" in faults:
            body = bytes(body) + b"x" * int(faults["longBody"])
        declared = len(body)
        if "shortBody" in faults:
            body = body[: max(0, len(body) - int(faults["shortBody"]))]
        if "header" in faults:
            name, value = faults["header"]
            headers = [(k, v) for k, v in headers if k.lower() != name.lower()] + [(name, value)]
        if "dropHeader" in faults:
            headers = [(k, v) for k, v in headers if k.lower() != faults["dropHeader"].lower()]
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if "noLength" in faults:
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(declared))
        self.end_headers()
        self.wfile.flush()
        if "slowBody" in faults:
            threading.Event().wait(float(faults["slowBody"]))
        if "dropMidBody" in faults:
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.close_now()
            return
        self.wfile.write(body)
        self.wfile.flush()
        if "shortBody" in faults:
            self.close_now()

    def authorised(self):
        phone = self.server.phone
        if self.headers.get("X-VELK-Session-ID") != phone.session_id:
            return False
        if phone.open:
            return True
        return self.headers.get("Authorization") == "Bearer " + phone.bearer_token

    # --- routes ---

    def do_GET(self):
        self.record(b"")
        phone = self.server.phone
        path = self.path
        if path == "/velk/v1/catalog":
            faults = phone.take_faults("catalog")
            if not self.authorised():
                return self.send(401, faults=faults)
            body = json.dumps(phone.catalog).encode()
            return self.send(200, body, [("Content-Type", "application/json")], faults)
        if path.startswith(FILES_PREFIX) and path.endswith(SIDECAR_SUFFIX):
            faults = phone.take_faults("sidecar")
            if not self.authorised():
                return self.send(401, faults=faults)
            clip = path[len(FILES_PREFIX): -len(SIDECAR_SUFFIX)]
            if clip not in phone.sidecars:
                return self.send(404, faults=faults)
            return self.send(200, phone.sidecars[clip], [("Content-Type", "application/json")], faults)
        if path.startswith(FILES_PREFIX):
            faults = phone.take_faults("files")
            if not self.authorised():
                return self.send(401, faults=faults)
            clip = path[len(FILES_PREFIX):]
            if clip not in phone.files:
                return self.send(404, faults=faults)
            data, digest = phone.files[clip]
            return self.send_file(data, digest, faults)
        self.send(404)

    def send_file(self, data, digest, faults):
        identity = [("Accept-Ranges", "bytes"), ("X-VELK-SHA256", digest), ("ETag", '"sha256:%s"' % digest)]
        requested = self.headers.get("Range")
        # Views of the mapped file, not copies: a phone streams a clip from its file.
        view = memoryview(data)
        if requested is None or "full200" in faults:
            return self.send(200, view, identity, faults)
        unit, _, byte_range = requested.partition("=")
        first, _, last = byte_range.partition("-")
        try:
            start, end = int(first), min(int(last), len(data) - 1)
        except ValueError:
            return self.send(416, faults=faults)
        if unit.strip().lower() != "bytes" or start > end:
            return self.send(416, faults=faults)
        headers = identity + [("Content-Range", "bytes %d-%d/%d" % (start, end, len(data)))]
        self.send(206, view[start: end + 1], headers, faults)

    def do_POST(self):
        body = self.read_body()
        self.record(body)
        phone = self.server.phone
        if self.path == "/velk/v1/pair":
            return self.pair(body, phone.take_faults("pair"))
        if self.path == "/velk/v1/session/end":
            faults = phone.take_faults("end")
            if not self.authorised():
                return self.send(401, faults=faults)
            return self.send(204, faults=faults)
        if self.path == "/velk/v1/projects/delete":
            return self.delete_project(body, phone.take_faults("delete"))
        self.send(404)

    def pair(self, body, faults):
        phone = self.server.phone
        try:
            request = json.loads(body)
        except ValueError:
            return self.send(400, faults=faults)
        if request.get("pairingCode") != phone.pairing_code:
            return self.send(403, faults=faults)
        if request.get("certificateSHA256") != phone.fingerprint:
            return self.send(409, faults=faults)
        expires = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(seconds=phone.expires_in_seconds)
        grant = {"schemaVersion": 1, "deviceId": phone.device_id, "sessionId": phone.session_id,
                 "bearerToken": phone.bearer_token, "expiresAt": expires.strftime("%Y-%m-%dT%H:%M:%S.%fZ"),
                 "scopes": ["catalog.read", "files.read"], "certificateSHA256": phone.fingerprint,
                 "foregroundOnly": True}
        if "pairField" in faults:
            key, value = faults["pairField"]
            if value is None:
                grant.pop(key, None)
            else:
                grant[key] = value
        self.send(200, json.dumps(grant).encode(), [("Content-Type", "application/json")], faults)

    def delete_project(self, body, faults):
        if not self.authorised():
            return self.send(401, faults=faults)
        try:
            request = json.loads(body)
        except ValueError:
            return self.send(400, faults=faults)
        reply = {"schemaVersion": 1, "requestId": request.get("requestId"), "movedToTrash": True}
        if "trashReply" in faults:
            key, value = faults["trashReply"]
            if value is None:
                reply.pop(key, None)
            else:
                reply[key] = value
        self.send(200, json.dumps(reply).encode(), [("Content-Type", "application/json")], faults)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, context, phone):
        self.context = context
        self.phone = phone
        self.connection_numbers = itertools.count(1)
        super().__init__(address, Handler)

    def get_request(self):
        sock, address = self.socket.accept()
        # A phone's HTTP stack sends each reply's last short segment at once instead of holding it
        # for the client's delayed acknowledgement.
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return sock, address

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread, so a client that refuses the
        # certificate never holds up the others.
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            request.close()
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            tls.close()


def command_loop(phone, server):
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            command = json.loads(line)
            answer = handle_command(phone, command)
        except Exception as error:  # report and keep serving
            answer = {"ok": False, "error": str(error)}
        print(json.dumps(answer), flush=True)
        if answer.get("quit"):
            break
    server.shutdown()


def handle_command(phone, command):
    name = command.get("cmd")
    with phone.lock:
        if name == "config":
            for key, attribute in (("pairingCode", "pairing_code"), ("deviceId", "device_id"),
                                   ("sessionId", "session_id"), ("bearerToken", "bearer_token"),
                                   ("open", "open"), ("expiresInSeconds", "expires_in_seconds")):
                if key in command:
                    setattr(phone, attribute, command[key])
            return {"ok": True}
        if name in ("file", "sidecar"):
            if "text" in command:
                data = command["text"].encode()
            elif "path" in command:
                with open(command["path"], "rb") as source:
                    if os.fstat(source.fileno()).st_size == 0:
                        data = b""
                    else:
                        data = mmap.mmap(source.fileno(), 0, access=mmap.ACCESS_READ)
            else:
                data = random.Random(command.get("seed", 1)).randbytes(int(command["size"]))
            digest = hashlib.sha256(data).hexdigest()
            if name == "file":
                phone.files[command["clipId"]] = (data, digest)
            else:
                phone.sidecars[command["clipId"]] = bytes(data)
            return {"ok": True, "sha256": digest, "size": len(data)}
        if name == "catalog":
            phone.catalog = command["body"]
            return {"ok": True}
        if name == "fault":
            times = command.get("times")
            phone.faults.setdefault(command["route"], {})[command["fault"]] = {
                "value": command.get("value"), "times": times}
            return {"ok": True}
        if name == "clear":
            phone.faults.clear()
            phone.log.clear()
            return {"ok": True}
        if name == "log":
            return {"ok": True, "log": list(phone.log)}
        if name == "quit":
            return {"ok": True, "quit": True}
    return {"ok": False, "error": "unknown command"}


def main():
    parser = argparse.ArgumentParser(description="Simulated phone: HTTPS transfer service")
    parser.add_argument("--dir", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--chain", action="store_true")
    parser.add_argument("--identity", default=None, help="keep the phone's certificate, key and device id here")
    arguments = parser.parse_args()

    device_id = None
    if arguments.identity:
        cert_path, key_path, fingerprints, device_id = kept_identity(arguments.identity, arguments.chain)
    else:
        cert_path, key_path, fingerprints = write_identity(arguments.dir, arguments.chain)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert_path, key_path)
    phone = Phone(fingerprints["fingerprint"], device_id)
    server = Server((arguments.host, arguments.port), context, phone)
    hello = dict(fingerprints, port=server.server_address[1], deviceId=phone.device_id, sessionId=phone.session_id)
    print(json.dumps(hello), flush=True)
    threading.Thread(target=command_loop, args=(phone, server), daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
