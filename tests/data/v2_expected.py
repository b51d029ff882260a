#!/usr/bin/env python3
# Writes v2_expected.vxj, an independent rendering of the version-2 layout
# (Python's hashlib, hmac, zlib and the cryptography package) from a fixed
# salt, file id and password, which the C++ writer must reproduce byte for byte.
import hashlib, hmac, struct, sys, zlib
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

PASSWORD = "correct horse".encode()
SALT = bytes(range(16))
FILE_ID = bytes(range(16, 32))
ITERATIONS = 600000
NAME = "expected.txt".encode()


def content():
    text = b"".join(b"line %04d of the expected container\n" % i for i in range(150))
    noise = b"".join(hashlib.sha256(b"%d" % i).digest() for i in range(100))
    return text + noise


def hkdf(ikm, salt, info, length):
    prk = hmac.new(salt, ikm, "sha256").digest()
    out, block, i = b"", b"", 1
    while len(out) < length:
        block = hmac.new(prk, block + info + bytes([i]), "sha256").digest()
        out, i = out + block, i + 1
    return out[:length]


def main(path):
    header = b"VXJ2" + bytes([1, 1]) + struct.pack("<I", ITERATIONS) + SALT + FILE_ID + struct.pack("<I", 4096)
    master = hashlib.pbkdf2_hmac("sha256", PASSWORD, SALT, ITERATIONS, 32)
    gcm = AESGCM(hkdf(master, FILE_ID, b"VXJ2 file key", 32))

    def record(i, last, plain):
        sealed = gcm.encrypt(struct.pack("<QI", i, 1 if last else 0), plain, header)
        return struct.pack("<I", len(sealed)) + sealed

    data = content()
    chunks = [data[k:k + 4096] for k in range(0, len(data), 4096)] or [b""]
    out = header + record(0, False, NAME)
    for k, chunk in enumerate(chunks, 1):
        packed = zlib.compress(chunk)
        body = b"\0" + packed if len(packed) < len(chunk) else b"\1" + chunk
        out += record(k, k == len(chunks), body)
    open(path, "wb").write(out)


main(sys.argv[1] if len(sys.argv) > 1 else "v2_expected.vxj")
