// IDEA: 8 rounds and an output step on four big-endian 16-bit words, the
// encryption subkeys followed by the decryption subkeys in the schedule.
#include "crypto/ciphers.h"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

constexpr int kSubkeys = 52;

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kTestVector[32] = {0xCF, 0x73, 0x66, 0x82, 0x7A, 0x76, 0xAE, 0x3A, 0x92, 0x52, 0x99, 0x9C, 0x88,
                                     0xF8, 0x5A, 0x81, 0xCB, 0xCD, 0x76, 0x97, 0x70, 0x78, 0xA9, 0x80, 0x08, 0x2E,
                                     0xF1, 0x0E, 0xFF, 0x6C, 0x65, 0xA7};

const TCipherClass kIDEAClass{"TCipher_IDEA", TCipher::Class, 8, 16, 4 * kSubkeys, kTestVector,
                              MakeCipherObject<TCipher_IDEA>};

// Multiplication modulo 65537, with 0 standing for 65536.
inline uint16_t Mul(uint16_t a, uint16_t b) {
  if (a == 0) return static_cast<uint16_t>(1 - b);
  if (b == 0) return static_cast<uint16_t>(1 - a);
  const uint32_t p = static_cast<uint32_t>(a) * b;
  const uint16_t low = static_cast<uint16_t>(p), high = static_cast<uint16_t>(p >> 16);
  return static_cast<uint16_t>(low - high + (low < high ? 1 : 0));
}

// The inverse under Mul: x^65535 modulo the prime 65537.
uint16_t MulInverse(uint16_t x) {
  uint64_t base = x == 0 ? 65536 : x, result = 1;
  for (uint32_t e = 65535; e; e >>= 1) {
    if (e & 1) result = result * base % 65537;
    base = base * base % 65537;
  }
  return static_cast<uint16_t>(result);
}

inline uint16_t Negate(uint16_t x) { return static_cast<uint16_t>(-x); }

void Crypt(const uint16_t* z, uint8_t* block) {
  uint16_t x1 = LoadBE16(block), x2 = LoadBE16(block + 2), x3 = LoadBE16(block + 4), x4 = LoadBE16(block + 6);
  for (int round = 0; round < 8; ++round, z += 6) {
    x1 = Mul(x1, z[0]);
    x2 = static_cast<uint16_t>(x2 + z[1]);
    x3 = static_cast<uint16_t>(x3 + z[2]);
    x4 = Mul(x4, z[3]);
    uint16_t t0 = Mul(x1 ^ x3, z[4]);
    const uint16_t t1 = Mul(static_cast<uint16_t>((x2 ^ x4) + t0), z[5]);
    t0 = static_cast<uint16_t>(t0 + t1);
    x1 ^= t1;
    x4 ^= t0;
    const uint16_t t = x2 ^ t0;
    x2 = x3 ^ t1;
    x3 = t;
  }
  StoreBE16(block, Mul(x1, z[0]));
  StoreBE16(block + 2, static_cast<uint16_t>(x3 + z[1]));
  StoreBE16(block + 4, static_cast<uint16_t>(x2 + z[2]));
  StoreBE16(block + 6, Mul(x4, z[3]));
}

}  // namespace

TCipherClassRef TCipher_IDEA::Class() { return &kIDEAClass; }

void TCipher_IDEA::EncodeBlock(void* block) { Crypt(ScheduleAs<uint16_t>(), static_cast<uint8_t*>(block)); }
void TCipher_IDEA::DecodeBlock(void* block) {
  Crypt(ScheduleAs<uint16_t>() + kSubkeys, static_cast<uint8_t*>(block));
}

void TCipher_IDEA::MakeKeySchedule(const uint8_t* key, int32_t length) {
  uint16_t* e = ScheduleAs<uint16_t>();
  uint16_t* d = e + kSubkeys;
  // The 128-bit key, rotated left by 25 bits after each eight subkeys.
  uint64_t high = 0, low = 0;
  for (int i = 0; i < 16; ++i) {
    const uint64_t byte = i < length ? key[i] : 0;
    if (i < 8)
      high |= byte << (56 - 8 * i);
    else
      low |= byte << (120 - 8 * i);
  }
  for (int i = 0; i < kSubkeys; ++i) {
    const int j = i % 8;
    e[i] = static_cast<uint16_t>(j < 4 ? high >> (48 - 16 * j) : low >> (48 - 16 * (j - 4)));
    if (j == 7) {
      const uint64_t h = high << 25 | low >> 39;
      low = low << 25 | high >> 39;
      high = h;
    }
  }
  ZeroKeyMaterial(&high, sizeof high);
  ZeroKeyMaterial(&low, sizeof low);
  // Decryption: the rounds backwards with inverse keys; the additive keys of
  // the inner rounds change places, as the rounds exchange the middle words.
  for (int round = 0; round <= 8; ++round) {
    const uint16_t* z = e + 6 * (8 - round);
    uint16_t* out = d + 6 * round;
    const bool inner = round > 0 && round < 8;
    out[0] = MulInverse(z[0]);
    out[1] = Negate(z[inner ? 2 : 1]);
    out[2] = Negate(z[inner ? 1 : 2]);
    out[3] = MulInverse(z[3]);
    if (round < 8) {
      out[4] = e[6 * (7 - round) + 4];
      out[5] = e[6 * (7 - round) + 5];
    }
  }
}

}  // namespace kv::crypto
