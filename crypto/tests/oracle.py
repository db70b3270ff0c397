"""Independent results for the crypto tests, from Python's own modules.

  oracle.py formats FILE       per input line (hex bytes): hex, base64, UU, XX
  oracle.py digest FILE        per line "NAME BYTES" (hex, maybe none): the
                               digest in hex; first checks the SHA
                               transcription below against hashlib
  oracle.py modes FILE         per line "MODE KEY VECTOR DATA" ("-" for none):
                               Blowfish in that mode (the MAC modes give the MAC)
  oracle.py cipher FILE        per line "NAME KEY DATA": the data encoded in
                               ECB by the transcription NAME (q128, scop)
  oracle.py q128table          SHA-256 of Q128's table as 4096 little-endian
                               bytes, then those bytes

Digest names: md5, sha1, sha0 (FIPS PUB 180 of 1993), crc32, crc16 (ARC
form), ccitt (shift-in CRC with the CCITT polynomial, initial 0xFFFF),
sapphireN (N digest bytes), square. Run with Debian's /usr/bin/python3,
which has binascii, zlib, crcmod and Cryptodome.
"""
import base64
import binascii
import hashlib
import struct
import sys
import zlib

import crcmod.predefined
from Cryptodome.Cipher import Blowfish

import transcriptions

UU_TABLE = "`" + "".join(chr(c) for c in range(33, 96))
XX_TABLE = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


def uu(data):
    lines = [binascii.b2a_uu(data[i:i + 45], backtick=True) for i in range(0, len(data), 45)]
    return b"".join(lines).decode().replace("\n", "")


def xx(data):
    return uu(data).translate(str.maketrans(UU_TABLE, XX_TABLE))


def sha_transcription(data, rotate):
    """FIPS PUB 180 (1993); with rotate set, the schedule of FIPS PUB 180-1."""
    rol = lambda v, n: ((v << n) | (v >> (32 - n))) & 0xFFFFFFFF
    h = [0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0]
    message = data + b"\x80" + b"\0" * ((55 - len(data)) % 64) + struct.pack(">Q", len(data) * 8)
    for block in range(0, len(message), 64):
        w = list(struct.unpack(">16I", message[block:block + 64]))
        for t in range(16, 80):
            x = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16]
            w.append(rol(x, 1) if rotate else x)
        a, b, c, d, e = h
        for t in range(80):
            if t < 20:
                f, k = (b & c) | (~b & d), 0x5A827999
            elif t < 40:
                f, k = b ^ c ^ d, 0x6ED9EBA1
            elif t < 60:
                f, k = (b & c) | (b & d) | (c & d), 0x8F1BBCDC
            else:
                f, k = b ^ c ^ d, 0xCA62C1D6
            a, b, c, d, e = (rol(a, 5) + f + e + w[t] + k) & 0xFFFFFFFF, a, rol(b, 30), c, d
        h = [(x + y) & 0xFFFFFFFF for x, y in zip(h, (a, b, c, d, e))]
    return struct.pack(">5I", *h).hex()


def ccitt(data):
    """(0xFFFF * x^(8n) + M(x)) mod (x^16 + x^12 + x^5 + 1), in integers."""
    value = (0xFFFF << (8 * len(data))) ^ int.from_bytes(data, "big")
    poly = 0x11021
    while value.bit_length() > 16:
        value ^= poly << (value.bit_length() - 17)
    return "%04x" % value


DIGESTS = {
    "md5": lambda d: hashlib.md5(d).hexdigest(),
    "sha1": lambda d: hashlib.sha1(d).hexdigest(),
    "sha0": lambda d: sha_transcription(d, False),
    "crc32": lambda d: "%08x" % zlib.crc32(d),
    "crc16": lambda d: "%04x" % crcmod.predefined.mkCrcFun("crc-16")(d),
    "ccitt": ccitt,
    "square": transcriptions.square_digest,
}
for size in range(16, 41, 4):
    DIGESTS["sapphire%d" % size] = lambda d, n=size: transcriptions.sapphire_digest(d, n).hex()


def blowfish_mode(mode, key, vector, data):
    """Blowfish in one of the eight modes, from Cryptodome's ECB, CBC and
    CFB-8; the vector defaults to E(FF..FF). A tail shorter than a block is
    xored with E(F); the MAC modes return F."""
    ecb = Blowfish.new(key, Blowfish.MODE_ECB)
    e = ecb.encrypt
    f = vector if vector else e(b"\xff" * 8)
    xor = lambda a, b: bytes(x ^ y for x, y in zip(a, b))
    whole = len(data) - len(data) % 8
    blocks = [data[i:i + 8] for i in range(0, whole, 8)]
    tail = data[whole:]
    if mode == "CFB8":
        return Blowfish.new(key, Blowfish.MODE_CFB, iv=f, segment_size=8).encrypt(data)
    if mode in ("OFB8", "CFB8MAC"):
        out = b""
        for p in data:
            c = p ^ e(f)[0]
            f = f[1:] + bytes([e(f)[0] if mode == "OFB8" else c])
            out += bytes([c])
        return f if mode == "CFB8MAC" else out
    if mode == "ECB":
        return ecb.encrypt(data[:whole]) + xor(tail, e(f))
    if mode == "CBC":
        out = Blowfish.new(key, Blowfish.MODE_CBC, iv=f).encrypt(data[:whole]) if whole else b""
        if whole:
            f = out[-8:]
        return out + xor(tail, e(f))
    out = b""
    for p in blocks:
        c = e(xor(p, f))
        f = c if mode in ("CBCMAC",) else xor(c, f)
        out += c
    if tail:
        b = e(f)
        out += xor(tail, b)
        f = xor(b, f)
    return f if mode.endswith("MAC") else out


def inputs(path):
    with open(path) as f:
        return [bytes.fromhex(line.strip()) for line in f]


def check_sha_transcription():
    """No packaged program knows the SHA of 1993: its transcription must give
    hashlib's SHA-1 with the rotation switched on."""
    for data in [b"", b"abc", b"a" * 1000, bytes(range(256)) * 3]:
        if sha_transcription(data, True) != hashlib.sha1(data).hexdigest():
            sys.exit("SHA transcription with rotation differs from hashlib.sha1")


def main():
    command = sys.argv[1]
    if command == "formats":
        for data in inputs(sys.argv[2]):
            print("\t".join([data.hex(), base64.b64encode(data).decode(), uu(data), xx(data)]))
    elif command == "modes":
        with open(sys.argv[2]) as f:
            for line in f:
                mode, key, vector, data = ["" if f == "-" else f for f in line.split()]
                print(blowfish_mode(mode, bytes.fromhex(key), bytes.fromhex(vector) if vector else None,
                                    bytes.fromhex(data)).hex())
    elif command == "cipher":
        ciphers = {"q128": transcriptions.q128_encode, "scop": transcriptions.scop_encode}
        with open(sys.argv[2]) as f:
            for line in f:
                name, key, data = line.split()
                print(ciphers[name](bytes.fromhex(key), bytes.fromhex(data)).hex())
    elif command == "q128table":
        table = transcriptions.q128_table()
        print(hashlib.sha256(struct.pack("<1024I", *table)).hexdigest())
        print(struct.pack("<1024I", *table).hex())
    elif command == "digest":
        check_sha_transcription()
        with open(sys.argv[2]) as f:
            for line in f:
                name, data = line.rstrip("\n").split(" ")
                print(DIGESTS[name](bytes.fromhex(data)))
    else:
        sys.exit("unknown command " + command)


main()
