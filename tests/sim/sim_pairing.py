"""The phone's side of QR camera pairing, for the simulated camera (test tooling).

Written from the phone-side formats only: the camera reads the invitation (the QR payload, from a
PNG through zbarimg, or the JSON itself), makes its own P-256 key, sends one "pair-hello" to the
invitation's host and port, and checks the "pair-accept": that it answers this hello, that the
Director's signature verifies over the accept transcript with the invitation's key, and that the
code matches the one the phone shows. Switches: --pair-replay N sends the identical hello N more
times after the accept; --pair-hello-file sends the bytes of a recorded hello instead.
"""

import base64
import hashlib
import hmac
import json
import subprocess
import threading
import time
import uuid

from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec


def b64(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def unb64(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def add_arguments(parser):
    parser.add_argument("--pair-invitation", default=None, help="invitation JSON or a PNG of its QR code")
    parser.add_argument("--pair-delay", type=float, default=0.5, help="seconds before the hello")
    parser.add_argument("--pair-replay", type=int, default=0, help="identical hellos sent again after the accept")
    parser.add_argument("--pair-hello-file", default=None, help="send these recorded hello bytes instead")


def read_invitation(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\x89PNG"):
        data = subprocess.run(["zbarimg", "--raw", "-q", "-Sdisable", "-Sqrcode.enable", "-Sbinary", path], check=True, capture_output=True).stdout
    return json.loads(data)


def code_of(transcript):
    return "%06u" % (int.from_bytes(hashlib.sha256(transcript).digest()[:4], "big") % 1000000)


class Pairing:
    def __init__(self, camera, args):
        self.camera = camera
        self.args = args
        self.invitation = read_invitation(args.pair_invitation)
        self.key = ec.generate_private_key(ec.SECP256R1())
        public = self.key.public_key().public_bytes(serialization.Encoding.X962,
                                                    serialization.PublicFormat.UncompressedPoint)
        self.public_text = b64(public)
        self.request = str(uuid.uuid4())
        self.transcript = None
        self.hello = None
        self.accepts = 0

    def build_hello(self):
        inv = self.invitation
        lines = ["VELK-PAIR-1/hello", inv["directorId"], inv["inviteId"], self.request, self.args.id,
                 self.args.name, self.public_text]
        self.transcript = "\n".join(lines).encode()
        proof = hmac.new(unb64(inv["secret"]), self.transcript, hashlib.sha256).digest()
        signature = self.key.sign(self.transcript, ec.ECDSA(hashes.SHA256()))
        payload = {"directorId": inv["directorId"], "inviteId": inv["inviteId"], "requestId": self.request,
                   "cameraName": self.args.name, "cameraPublicKey": self.public_text, "proof": b64(proof),
                   "signature": b64(signature)}
        return json.dumps({"v": 1, "type": "pair-hello", "sender": self.args.id, "payload": payload}).encode()

    def send(self, data):
        self.camera.sock.sendto(data, (self.invitation["host"], self.invitation["port"]))
        self.camera.log(event="pair-hello", dst=self.invitation["host"], hello=data.hex())

    def start(self):
        threading.Thread(target=self.run, daemon=True).start()

    def run(self):
        time.sleep(self.args.pair_delay)
        if self.args.pair_hello_file:
            with open(self.args.pair_hello_file, "rb") as f:
                self.hello = f.read()
        else:
            self.hello = self.build_hello()
            self.camera.log(event="pair-code", code=code_of(self.transcript))
        self.send(self.hello)

    def on_datagram(self, host, data, message):
        if message.get("type") != "pair-accept":
            return False
        self.accepts += 1
        result = {"event": "pair-accept", "src": host, "sha256": hashlib.sha256(data).hexdigest(),
                  "count": self.accepts}
        if self.transcript is not None:
            result.update(self.check(message))
        self.camera.log(**result)
        if self.accepts == 1 and self.args.pair_replay:
            threading.Thread(target=self.replay, daemon=True).start()
        return True

    def replay(self):
        for _ in range(self.args.pair_replay):
            time.sleep(0.05)
            self.send(self.hello)

    def check(self, message):
        inv = self.invitation
        p = message.get("payload") or {}
        fields_ok = (message.get("v") == 1 and message.get("sender") == inv["directorId"]
                     and p.get("target") == self.args.id and p.get("inviteId") == inv["inviteId"]
                     and p.get("requestId") == self.request and p.get("cameraPublicKey") == self.public_text
                     and p.get("directorPublicKey") == inv["publicKey"] and p.get("directorName") == inv["directorName"])
        accept = (b"VELK-PAIR-1/accept\n" + self.transcript + b"\n" + inv["directorName"].encode() + b"\n"
                  + inv["publicKey"].encode())
        try:
            director = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), unb64(inv["publicKey"]))
            director.verify(unb64(p.get("signature", "")), accept, ec.ECDSA(hashes.SHA256()))
            signature_ok = True
        except (InvalidSignature, ValueError):
            signature_ok = False
        code = code_of(self.transcript)
        return {"fieldsOk": fields_ok, "signatureOk": signature_ok, "code": code,
                "codeOk": p.get("verificationCode") == code}
