"""Transcriptions, for the crypto tests, of algorithms no packaged program
implements: Q128 (its table made by its designer's procedure on Cryptodome's
Blowfish), SCOP, the Sapphire II digest and the Square digest (on Square as
published: theta inverse, key addition, eight rounds of theta, S-box,
transposition and key addition). Written from the descriptions, in plain
Python, apart from the classes under test."""
import struct

from Cryptodome.Cipher import Blowfish

MASK = 0xFFFFFFFF


def rol(v, n):
    return ((v << n) | (v >> (32 - n))) & MASK


def ror(v, n):
    return ((v >> n) | (v << (32 - n))) & MASK


# --- Q128 --------------------------------------------------------------------------

_q128 = []


def q128_table():
    if _q128:
        return _q128
    bf = Blowfish.new(b"abcdefghijklmnopqrstuvwxyz", Blowfish.MODE_ECB)
    right = lambda blocks: struct.unpack(">%dI" % (2 * (len(blocks) // 8)), blocks)
    q = list(range(1024))
    swaps = right(bf.encrypt(b"".join(struct.pack(">II", 0, k) for k in range(1000000))))
    for k in range(1000000):
        j = swaps[2 * k + 1] % 1024
        q[k % 1024], q[j] = q[j], q[k % 1024]
    b = 0
    while True:
        m = right(bf.encrypt(b"".join(struct.pack(">II", 0, b + k) for k in range(16))))
        if gf2_rank(list(m)) == 32:
            break
        b += 16
    _q128.extend(sum(((bin(w & m[r]).count("1") & 1) << r for r in range(32))) for w in q)
    return _q128


def gf2_rank(rows):
    rank = 0
    for bit in range(32):
        pivot = next((r for r in range(rank, 32) if rows[r] >> bit & 1), None)
        if pivot is None:
            continue
        rows[rank], rows[pivot] = rows[pivot], rows[rank]
        for r in range(32):
            if r != rank and rows[r] >> bit & 1:
                rows[r] ^= rows[rank]
        rank += 1
    return rank


def q128_encode(key, data):
    q = q128_table()
    Q = lambda v: q[v & 0x3FF]
    x = list(struct.unpack("<4I", (key + bytes(16))[:16]))
    round_keys = []
    for step in range(1, 20):
        t = ror(x[0], 10)
        x[1] ^= Q(x[0])
        x[2] ^= Q(x[1])
        x[3] ^= Q(x[2])
        x[0] = Q(x[3]) ^ t
        x[1], x[2], x[3] = ror(x[1], 10), ror(x[2], 10), ror(x[3], 10)
        if step >= 4:
            round_keys.append(list(x))
    out = b""
    for at in range(0, len(data), 16):
        w = list(struct.unpack("<4I", data[at:at + 16]))
        for k in round_keys:
            w[1] ^= (Q(w[0]) + k[0]) & MASK
            w[2] ^= (Q(w[1]) + k[1]) & MASK
            w[3] ^= (Q(w[2]) + k[2]) & MASK
            w[0] = rol(w[0], 10) ^ ((Q(w[3]) + k[3]) & MASK)
            w[1], w[2], w[3] = rol(w[1], 10), rol(w[2], 10), rol(w[3], 10)
        out += struct.pack("<4I", *w)
    return out


# --- SCOP --------------------------------------------------------------------------

def scop_state(key):
    c = list(key) + [0] * (48 - len(key))
    n = len(key)
    for k in range(n, 48):
        c[k] = (c[k - n] + c[k - n + 1]) & 0xFF
    fill = 1
    for k in range(32):
        if c[k] == 0:
            c[k] = fill
            fill += 1

    def step():
        words = struct.unpack("<4I", bytes(c[32:48]))
        outputs, kept = [], []
        for i, word in enumerate(words):
            m = 8 * i
            hi, lo = word >> 16, word & 0xFFFF
            a = (c[m] * hi ** 4 + c[m + 1] * hi ** 3 + c[m + 2] * hi ** 2 + c[m + 3] * hi + 1) & MASK
            b = (c[m + 4] * lo ** 4 + c[m + 9] * lo ** 3 + c[m + 14] * lo ** 2 + c[m + 19] * lo + 1) & MASK
            outputs.append(((a & 0xFFFF) << 16) | (b & 0xFFFF))
            kept.append((a & 0xFFFF0000) | (b >> 16))
        u0, u1, u2, u3 = kept
        new = [(u0 >> 16 | u3 << 16) & MASK, (u0 << 16 | u1 >> 16) & MASK, (u1 << 16 | u2 >> 16) & MASK,
               (u2 << 16 | u3 >> 16) & MASK]
        c[32:48] = list(struct.pack("<4I", *new))
        return outputs

    state = [0] * 388
    for _ in range(8):
        step()
    at = 3
    for _ in range(12):
        for _ in range(8):
            state[at:at + 4] = step()
            at += 4
        step()
    w = step()[3]
    state[3 + (w & 0x7F)] |= 1
    state[0], state[1], state[2] = w >> 24, (w >> 16) & MASK, (w >> 8) & MASK
    return state


def scop_block(state, block, sign):
    i, j, s = state[0] % 256, state[1] % 256, state[3]
    T = lambda k: 132 + k
    out = []
    for word in struct.unpack("<32I", block):
        x = state[T(j)]
        j = (j + s) % 256
        y = state[T(j)]
        state[T(j)] = (state[4 + i] + y) & MASK
        s = state[T(j)]
        i = (i + 1) % 256
        j = (j + y) % 256
        out.append((word + sign * (x + y)) & MASK)
    return struct.pack("<32I", *out)


def scop_encode(key, data):
    """ECB after Init without a vector, which encodes the block FF..FF once."""
    state = scop_state(key)
    scop_block(state, b"\xff" * 128, 1)
    return b"".join(scop_block(state, data[at:at + 128], 1) for at in range(0, len(data), 128))


# --- Sapphire II digest ------------------------------------------------------------

def sapphire_digest(data, n):
    cards = [255 - i for i in range(256)]
    r = {"rotor": 1, "ratchet": 3, "avalanche": 5, "plain": 7, "cipher": 11, "count": 0}

    def feed(b):
        r["ratchet"] = (r["ratchet"] + cards[r["rotor"]]) % 256
        r["rotor"] = (r["rotor"] + 1) % 256
        t = cards[r["cipher"]]
        cards[r["cipher"]] = cards[r["ratchet"]]
        cards[r["ratchet"]] = cards[r["plain"]]
        cards[r["plain"]] = cards[r["rotor"]]
        cards[r["rotor"]] = t
        r["avalanche"] = (r["avalanche"] + cards[t]) % 256
        r["cipher"] = b ^ cards[cards[(cards[r["plain"]] + cards[r["cipher"]] + cards[r["avalanche"]]) % 256]] ^ \
            cards[(cards[r["ratchet"]] + cards[r["rotor"]]) % 256]
        r["plain"] = b
        r["count"] += 1

    for b in data:
        feed(b)
    x = n
    for k in range(255, -1, -1):
        x ^= k
        feed(x)
    trailer = bytes([0x80, 0x02, 0, n, 1, 3, 5, 7, 11]) + struct.pack("<Q", r["count"] * 8) + bytes(23)
    digest = b""
    for i in range(n):
        feed(trailer[i])
        digest += bytes([r["cipher"]])
    return digest


# --- Square ------------------------------------------------------------------------

def _gf_mul(a, b):
    p = 0
    while b:
        if b & 1:
            p ^= a
        b >>= 1
        a <<= 1
        if a & 0x100:
            a ^= 0x1F5
    return p


_PRODUCTS = [[_gf_mul(a, b) for b in range(256)] for a in range(256)]


def gf_mul(a, b):
    return _PRODUCTS[a][b]


def _square_sbox():
    columns = [0x7F, 0xDA, 0xBC, 0x78, 0xF0, 0x60, 0xC0, 0x80]
    inverse = lambda x: next((y for y in range(1, 256) if gf_mul(x, y) == 1), 0)
    sbox = []
    for x in range(256):
        y, v = inverse(x), 0
        for bit in range(8):
            if y >> bit & 1:
                v ^= columns[bit]
        sbox.append(v ^ 0xB1)
    return sbox


SQUARE_SBOX = _square_sbox()
THETA = [2, 1, 1, 3]


def _theta_inverse():
    """Solves theta * d = 1 (mod x^4 + 1) by Gaussian elimination."""
    m = [[THETA[(k - j) % 4] for j in range(4)] + [1 if k == 0 else 0] for k in range(4)]
    for col in range(4):
        pivot = next(r for r in range(col, 4) if m[r][col])
        m[col], m[pivot] = m[pivot], m[col]
        inv = next(y for y in range(1, 256) if gf_mul(m[col][col], y) == 1)
        m[col] = [gf_mul(v, inv) for v in m[col]]
        for r in range(4):
            if r != col and m[r][col]:
                f = m[r][col]
                m[r] = [v ^ gf_mul(f, w) for v, w in zip(m[r], m[col])]
    return [m[k][4] for k in range(4)]


THETA_INVERSE = _theta_inverse()


def mix_rows(state, c):
    """Each row a(x) times c(x) modulo x^4 + 1; state is 4 rows of 4 bytes."""
    out = []
    for row in state:
        new = [0] * 4
        for k in range(4):
            for j in range(4):
                new[k] ^= gf_mul(c[(k - j) % 4], row[j])
        out.append(new)
    return out


def square_encrypt(key_words, block):
    rows = lambda words: [list(struct.pack("<I", w)) for w in words]
    keys = [list(key_words)]
    for t in range(1, 9):
        p = keys[-1]
        k0 = p[0] ^ ror(p[3], 8) ^ (1 << (t - 1))
        k1 = p[1] ^ k0
        k2 = p[2] ^ k1
        keys.append([k0, k1, k2, p[3] ^ k2])
    add = lambda s, k: [[a ^ b for a, b in zip(r, kr)] for r, kr in zip(s, rows(k))]
    state = mix_rows([list(block[4 * i:4 * i + 4]) for i in range(4)], THETA_INVERSE)
    state = add(state, keys[0])
    for t in range(1, 9):
        state = mix_rows(state, THETA)
        state = [[SQUARE_SBOX[v] for v in r] for r in state]
        state = [[state[j][i] for j in range(4)] for i in range(4)]
        state = add(state, keys[t])
    return bytes(v for r in state for v in r)


def square_digest(data):
    h = [0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476]
    message = data + b"\x80" + bytes((7 - len(data)) % 16) + struct.pack("<Q", len(data) * 8)
    for at in range(0, len(message), 16):
        block = message[at:at + 16]
        encoded = struct.unpack("<4I", square_encrypt(h, block))
        h = [e ^ m for e, m in zip(encoded, struct.unpack("<4I", block))]
    return struct.pack("<4I", *h).hex()
