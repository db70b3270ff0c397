#!/usr/bin/env python3
"""Writes the fixed tables of the hash and cipher classes into crypto/tables/.

  gen_crypto_tables.py [REPOSITORY]

Every table comes from a published definition, never from another program:

  pi.inc           hexadecimal digits of pi's fraction (Blowfish's P-array
                   and S-boxes, HAVAL's initial words and constants), computed
                   here by Machin's formula in integers
  safer.inc        SAFER's 45^x mod 257 and its logarithm
  sharksquare.inc  the S-box SHARK and Square share, from its algebraic
                   definition (published/shark-g.txt), its inverse, SHARK's
                   matrix G with its inverse, Square's theta coefficients
                   2, 1, 1, 3 with their inverse
  snefru.inc       Snefru's S-boxes          (published/snefru-sboxes.txt)
  tiger.inc        Tiger's S-boxes           (published/tiger-sboxes.txt)
  twofish.inc      q0, q1 from their 4-bit tables, the MDS and RS matrices
                   (published/twofish-definitions.txt)

Q128's table is made by tools/q128table from our own Blowfish. The build never
runs this script; its output is committed.
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
PUBLISHED = os.path.join(HERE, "published")


# --- pi ---------------------------------------------------------------------------

def arctan_inverse(x, scale):
    """scale * arctan(1/x), in integers."""
    total = term = scale // x
    x2 = x * x
    k = 1
    while term:
        term //= x2
        k += 2
        total += -(term // k) if (k // 2) % 2 else term // k
    return total


def pi_fraction_words(count):
    """The first count 32-bit words of pi's hexadecimal fraction."""
    guard = 64
    bits = 32 * count + guard
    scale = 1 << bits
    pi = 16 * arctan_inverse(5, scale) - 4 * arctan_inverse(239, scale)
    fraction = (pi - 3 * scale) >> guard
    return [(fraction >> (32 * (count - 1 - i))) & 0xFFFFFFFF for i in range(count)]


# --- GF(2^8) ----------------------------------------------------------------------

def gf_mul(a, b, poly):
    r = 0
    while b:
        if b & 1:
            r ^= a
        b >>= 1
        a <<= 1
        if a & 0x100:
            a ^= poly
    return r


def gf_inverse(a, poly):
    if a == 0:
        return 0
    return next(b for b in range(1, 256) if gf_mul(a, b, poly) == 1)


def gf_matrix_inverse(m, poly):
    n = len(m)
    rows = [list(row) + [1 if i == j else 0 for j in range(n)] for i, row in enumerate(m)]
    for col in range(n):
        pivot = next(r for r in range(col, n) if rows[r][col])
        rows[col], rows[pivot] = rows[pivot], rows[col]
        inv = gf_inverse(rows[col][col], poly)
        rows[col] = [gf_mul(v, inv, poly) for v in rows[col]]
        for r in range(n):
            if r != col and rows[r][col]:
                f = rows[r][col]
                rows[r] = [v ^ gf_mul(f, p, poly) for v, p in zip(rows[r], rows[col])]
    return [row[n:] for row in rows]


# --- published tables -------------------------------------------------------------

def read_published(name):
    with open(os.path.join(PUBLISHED, name)) as f:
        return f.read()


def hex_words(text):
    """The hexadecimal words of the lines that are not comments."""
    words = []
    for line in text.splitlines():
        if not line.startswith("#"):
            words += [int(w, 16) for w in line.split()]
    return words


def sbox_from_definition():
    """S(x) = A(x^-1) xor 0xB1 mod 0x1F5, A as given in shark-g.txt."""
    header = read_published("shark-g.txt")
    match = re.search(r"A maps bit i \(i = 0\.\.7\) to ((?:[0-9A-F]{2} ?){8})", header)
    columns = [int(v, 16) for v in match.group(1).split()]
    sbox = []
    for x in range(256):
        y = gf_inverse(x, 0x1F5)
        value = 0
        for bit in range(8):
            if y >> bit & 1:
                value ^= columns[bit]
        sbox.append(value ^ 0xB1)
    return sbox


def shark_g():
    rows = [line.split() for line in read_published("shark-g.txt").splitlines() if line and not line.startswith("#")]
    return [[int(v, 16) for v in row] for row in rows]


def twofish_definitions():
    text = read_published("twofish-definitions.txt")
    t = {}
    for q in ("q0", "q1"):
        t[q] = [[int(v, 16) for v in re.search(q + " t%d: (.*)" % i, text).group(1).split()] for i in range(4)]
    mds = [[int(v, 16) for v in row.split()] for row in re.search("MDS: (.*)", text).group(1).split("/")]
    rs = [[int(v, 16) for v in row.split()] for row in re.search("RS: (.*)", text).group(1).split("/")]
    return t, mds, rs


def twofish_q(t):
    ror4 = lambda v, n: ((v >> n) | (v << (4 - n))) & 15
    q = []
    for x in range(256):
        a0, b0 = x >> 4, x & 15
        a1 = a0 ^ b0
        b1 = a0 ^ ror4(b0, 1) ^ (8 * a0 & 15)
        a2, b2 = t[0][a1], t[1][b1]
        a3 = a2 ^ b2
        b3 = a2 ^ ror4(b2, 1) ^ (8 * a2 & 15)
        a4, b4 = t[2][a3], t[3][b3]
        q.append(16 * b4 + a4)
    return q


# --- output -----------------------------------------------------------------------

def c_array(values, width, per_line):
    fmt = "0x%0" + str(width) + "X"
    items = [fmt % v for v in values]
    lines = [", ".join(items[i:i + per_line]) for i in range(0, len(items), per_line)]
    return "    " + ",\n    ".join(lines)


def table(name, ctype, values, width, per_line, dims):
    return "inline constexpr %s %s%s = {\n%s};\n" % (ctype, name, "".join("[%d]" % d for d in dims),
                                                     c_array(values, width, per_line))


def write(repository, name, source, body):
    path = os.path.join(repository, "crypto", "tables", name)
    with open(path, "w") as f:
        f.write("// Generated by tools/cryptotables/gen_crypto_tables.py; do not edit.\n")
        f.write("// " + source + "\n")
        f.write("#pragma once\n#include <cstdint>\n\nnamespace kv::crypto {\n\n" + body + "\n}  // namespace kv::crypto\n")


def flat(rows):
    return [v for row in rows for v in row]


def main():
    repository = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "..")

    pi = pi_fraction_words(18 + 4 * 256)
    assert pi[0] == 0x243F6A88 and pi[17] == 0x8979FB1B and pi[18] == 0xD1310BA6
    write(repository, "pi.inc", "The hexadecimal fraction of pi, 32 bits a word, most significant digit first.",
          table("kPiFractionWords", "uint32_t", pi, 8, 8, [len(pi)]))

    exp = [pow(45, i, 257) % 256 for i in range(256)]
    log = [0] * 256
    for i, e in enumerate(exp):
        log[e] = i
    write(repository, "safer.inc", "SAFER: exp[i] = 45^i mod 257 (256 stored as 0), log its inverse.",
          table("kSaferExp", "uint8_t", exp, 2, 16, [256]) + table("kSaferLog", "uint8_t", log, 2, 16, [256]))

    sbox = sbox_from_definition()
    inverse = [0] * 256
    for x, s in enumerate(sbox):
        inverse[s] = x
    g = shark_g()
    theta = [[[2, 1, 1, 3][(k - j) % 4] for j in range(4)] for k in range(4)]
    theta_inverse = gf_matrix_inverse(theta, 0x1F5)
    write(repository, "sharksquare.inc",
          "SHARK and Square over GF(2^8) mod 0x1F5: the S-box from its definition, SHARK's G (rows), "
          "Square's theta as c(x) = 2 + x + x^2 + 3x^3 mod x^4 + 1 and its inverse.",
          table("kSharkSquareSBox", "uint8_t", sbox, 2, 16, [256]) +
          table("kSharkSquareSBoxInverse", "uint8_t", inverse, 2, 16, [256]) +
          table("kSharkG", "uint8_t", flat(g), 2, 8, [8, 8]) +
          table("kSharkGInverse", "uint8_t", flat(gf_matrix_inverse(g, 0x1F5)), 2, 8, [8, 8]) +
          table("kSquareTheta", "uint8_t", [row[0] for row in theta], 2, 4, [4]) +
          table("kSquareThetaInverse", "uint8_t", [row[0] for row in theta_inverse], 2, 4, [4]))

    snefru = hex_words(read_published("snefru-sboxes.txt"))
    assert len(snefru) == 16 * 256
    write(repository, "snefru.inc", "Snefru's S-boxes, two per pass (Merkle 1990).",
          table("kSnefruSBoxes", "uint32_t", snefru, 8, 8, [16, 256]))

    tiger = hex_words(read_published("tiger-sboxes.txt"))
    assert len(tiger) == 4 * 256
    write(repository, "tiger.inc", "Tiger's S-boxes t1 to t4 (Anderson and Biham 1996).",
          table("kTigerSBoxes", "uint64_t", tiger, 16, 4, [4, 256]))

    t, mds, rs = twofish_definitions()
    write(repository, "twofish.inc",
          "Twofish (1998): q0 and q1, the MDS matrix (mod 0x169) and the RS matrix (mod 0x14D), rows.",
          table("kTwofishQ", "uint8_t", twofish_q(t["q0"]) + twofish_q(t["q1"]), 2, 16, [2, 256]) +
          table("kTwofishMDS", "uint8_t", flat(mds), 2, 4, [4, 4]) +
          table("kTwofishRS", "uint8_t", flat(rs), 2, 8, [4, 8]))


main()
