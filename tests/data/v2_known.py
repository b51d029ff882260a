#!/usr/bin/env python3
# Writes v2_known_a.vxj and v2_known_b.vxj, the known-answer containers of the
# authenticated format, rendered independently (Python's hashlib, hmac and the
# cryptography package) from their published inputs, after checking them
# against the published length, SHA-256 and bytes.
import hashlib, hmac, struct, sys
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

PASSWORD = "correct horse".encode()
SALT = bytes(range(16))
FILE_ID = bytes(range(16, 32))
ITERATIONS = 100000

A_LENGTH = 5149
A_SHA256 = "a4f80739e0c5ab67e47cef6f16180f47e17df1ce964b252a7314591a2779a085"
B_HEX = ("56584a320201a0860100000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f0010000028f705"
         "60cbaab4c2039ad9b0d847ac0936986e19c13ea3f43c13b10f6a4e7e1119000000cce3e7b7537654005ab8bc8e990936ec0b"
         "c92e1afd43ef44111100000091eea62367a1eba4fa00325eda0535bee6")


def hkdf(ikm, salt, info, length=32):
    prk = hmac.new(salt, ikm, "sha256").digest()
    out, block, i = b"", b"", 1
    while len(out) < length:
        block = hmac.new(prk, block + info + bytes([i]), "sha256").digest()
        out, i = out + block, i + 1
    return out[:length]


def container(name, data):
    header = b"VXJ2" + bytes([2, 1]) + struct.pack("<I", ITERATIONS) + SALT + FILE_ID + struct.pack("<I", 4096)
    master = hashlib.pbkdf2_hmac("sha256", PASSWORD, SALT, ITERATIONS, 32)
    prefix = header + hmac.new(hkdf(master, FILE_ID, b"VXJ2 header key"), header, "sha256").digest()
    gcm = AESGCM(hkdf(master, FILE_ID, b"VXJ2 file key"))

    def record(i, last, plain):
        sealed = gcm.encrypt(struct.pack("<QI", i, 1 if last else 0), plain, prefix)
        return struct.pack("<I", len(sealed)) + sealed

    chunks = [data[k:k + 4096] for k in range(0, len(data), 4096)] or [b""]
    out = prefix + record(0, False, name)
    for k, chunk in enumerate(chunks, 1):
        out += record(k, k == len(chunks), b"\1" + chunk)  # incompressible: mode 1
    return out


def main(folder):
    data = b"".join(hashlib.sha256(struct.pack("<I", i)).digest() for i in range(157))[:5000]
    a, b = container(b"hello.txt", data), container(b"empty.bin", b"")
    assert len(a) == A_LENGTH and hashlib.sha256(a).hexdigest() == A_SHA256, "container A differs"
    assert b.hex() == B_HEX, "container B differs"
    open(folder + "/v2_known_a.vxj", "wb").write(a)
    open(folder + "/v2_known_b.vxj", "wb").write(b)


main(sys.argv[1] if len(sys.argv) > 1 else ".")
