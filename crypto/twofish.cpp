// Twofish (1998): 16 rounds on four little-endian words. The schedule holds
// the four key-dependent S-boxes already multiplied by their column of the
// MDS matrix (so g is four look-ups), then the 40 round subkeys.
#include <algorithm>
#include <array>
#include <bit>

#include "crypto/ciphers.h"
#include "crypto/cryptutil.h"
#include "crypto/gf256.h"
#include "crypto/tables/twofish.inc"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kTestVector[32] = {0x97, 0x71, 0x21, 0x77, 0x78, 0x60, 0x22, 0xCD, 0x22, 0xB5, 0xDF, 0x94, 0x4B,
                                     0xA7, 0x2C, 0x74, 0x63, 0x4B, 0xFB, 0x8F, 0x5D, 0x9D, 0xF8, 0x58, 0x47, 0xE6,
                                     0x4B, 0xF9, 0x2C, 0x2E, 0xF3, 0x82};

struct Schedule {
  uint32_t s[4][256];
  uint32_t k[40];
};
static_assert(sizeof(Schedule) == 4256);

const TCipherClass kTwofishClass{"TCipher_Twofish", TCipher::Class, 16, 32, sizeof(Schedule), kTestVector,
                                 MakeCipherObject<TCipher_Twofish>};

// Byte x times column j of the MDS matrix, as a word (row i in byte i).
constexpr auto kMdsColumns = [] {
  std::array<std::array<uint32_t, 256>, 4> t{};
  for (int j = 0; j < 4; ++j) {
    for (int x = 0; x < 256; ++x) {
      for (int i = 0; i < 4; ++i)
        t[j][x] |= static_cast<uint32_t>(GfMultiply(kTwofishMDS[i][j], static_cast<uint8_t>(x), 0x169)) << (8 * i);
    }
  }
  return t;
}();

// Which permutation (q0 or q1) byte j passes at each stage of h: the stage of
// key word 3 (256-bit keys), of word 2 (192 bits and more), of words 1 and 0,
// and last.
constexpr uint8_t kStageQ[5][4] = {{1, 0, 0, 1}, {1, 1, 0, 0}, {0, 1, 0, 1}, {0, 0, 1, 1}, {1, 0, 1, 0}};

inline uint8_t Byte(uint32_t word, int j) { return static_cast<uint8_t>(word >> (8 * j)); }

// Byte j of h's input through its permutations and the key words l[0..k-1].
uint8_t QChain(int j, uint8_t x, const uint32_t* l, int k) {
  const auto q = [j](int stage, uint8_t v) { return kTwofishQ[kStageQ[stage][j]][v]; };
  if (k == 4) x = q(0, x) ^ Byte(l[3], j);
  if (k >= 3) x = q(1, x) ^ Byte(l[2], j);
  x = q(2, x) ^ Byte(l[1], j);
  x = q(3, x) ^ Byte(l[0], j);
  return q(4, x);
}

uint32_t H(uint32_t x, const uint32_t* l, int k) {
  uint32_t out = 0;
  for (int j = 0; j < 4; ++j) out ^= kMdsColumns[j][QChain(j, Byte(x, j), l, k)];
  return out;
}

inline uint32_t G(const Schedule& s, uint32_t x) {
  return s.s[0][x & 0xFF] ^ s.s[1][x >> 8 & 0xFF] ^ s.s[2][x >> 16 & 0xFF] ^ s.s[3][x >> 24];
}

}  // namespace

TCipherClassRef TCipher_Twofish::Class() { return &kTwofishClass; }

void TCipher_Twofish::EncodeBlock(void* block) {
  const Schedule& s = *ScheduleAs<Schedule>();
  auto* b = static_cast<uint8_t*>(block);
  uint32_t x[4];
  LoadWordsLE(x, b, 4);
  for (int i = 0; i < 4; ++i) x[i] ^= s.k[i];
  for (int r = 0; r < 16; r += 2) {
    uint32_t t0 = G(s, x[0]), t1 = G(s, std::rotl(x[1], 8));
    x[2] = std::rotr(x[2] ^ (t0 + t1 + s.k[2 * r + 8]), 1);
    x[3] = std::rotl(x[3], 1) ^ (t0 + 2 * t1 + s.k[2 * r + 9]);
    t0 = G(s, x[2]);
    t1 = G(s, std::rotl(x[3], 8));
    x[0] = std::rotr(x[0] ^ (t0 + t1 + s.k[2 * r + 10]), 1);
    x[1] = std::rotl(x[1], 1) ^ (t0 + 2 * t1 + s.k[2 * r + 11]);
  }
  const uint32_t out[4] = {x[2] ^ s.k[4], x[3] ^ s.k[5], x[0] ^ s.k[6], x[1] ^ s.k[7]};
  StoreWordsLE(b, out, 4);
}

void TCipher_Twofish::DecodeBlock(void* block) {
  const Schedule& s = *ScheduleAs<Schedule>();
  auto* b = static_cast<uint8_t*>(block);
  uint32_t c[4];
  LoadWordsLE(c, b, 4);
  uint32_t x[4] = {c[2] ^ s.k[6], c[3] ^ s.k[7], c[0] ^ s.k[4], c[1] ^ s.k[5]};
  for (int r = 14; r >= 0; r -= 2) {
    uint32_t t0 = G(s, x[2]), t1 = G(s, std::rotl(x[3], 8));
    x[0] = std::rotl(x[0], 1) ^ (t0 + t1 + s.k[2 * r + 10]);
    x[1] = std::rotr(x[1] ^ (t0 + 2 * t1 + s.k[2 * r + 11]), 1);
    t0 = G(s, x[0]);
    t1 = G(s, std::rotl(x[1], 8));
    x[2] = std::rotl(x[2], 1) ^ (t0 + t1 + s.k[2 * r + 8]);
    x[3] = std::rotr(x[3] ^ (t0 + 2 * t1 + s.k[2 * r + 9]), 1);
  }
  for (int i = 0; i < 4; ++i) x[i] ^= s.k[i];
  StoreWordsLE(b, x, 4);
}

void TCipher_Twofish::MakeKeySchedule(const uint8_t* key, int32_t length) {
  const int k = length <= 16 ? 2 : length <= 24 ? 3 : 4;
  uint8_t padded[32] = {};
  std::copy(key, key + length, padded);
  uint32_t even[4] = {}, odd[4] = {}, sbox[4] = {};
  for (int i = 0; i < k; ++i) {
    even[i] = LoadLE32(padded + 8 * i);
    odd[i] = LoadLE32(padded + 8 * i + 4);
    // The Reed-Solomon code of key bytes 8i..8i+7; g takes these words in
    // reverse order.
    uint32_t word = 0;
    for (int r = 0; r < 4; ++r) {
      uint8_t v = 0;
      for (int c = 0; c < 8; ++c) v ^= GfMultiply(kTwofishRS[r][c], padded[8 * i + c], 0x14D);
      word |= static_cast<uint32_t>(v) << (8 * r);
    }
    sbox[k - 1 - i] = word;
  }
  Schedule& s = *ScheduleAs<Schedule>();
  constexpr uint32_t kRho = 0x01010101;
  for (uint32_t i = 0; i < 20; ++i) {
    const uint32_t a = H(2 * i * kRho, even, k);
    const uint32_t b = std::rotl(H((2 * i + 1) * kRho, odd, k), 8);
    s.k[2 * i] = a + b;
    s.k[2 * i + 1] = std::rotl(a + 2 * b, 9);
  }
  for (int j = 0; j < 4; ++j) {
    for (int x = 0; x < 256; ++x) s.s[j][x] = kMdsColumns[j][QChain(j, static_cast<uint8_t>(x), sbox, k)];
  }
  ZeroKeyMaterial(padded, sizeof padded);
  ZeroKeyMaterial(even, sizeof even);
  ZeroKeyMaterial(odd, sizeof odd);
  ZeroKeyMaterial(sbox, sizeof sbox);
}

}  // namespace kv::crypto
