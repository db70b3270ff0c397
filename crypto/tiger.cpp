// Tiger (1996): 64-byte blocks through three or more passes of eight rounds
// over 64-bit words, with a key schedule between the passes.
#include "crypto/md4family.h"
#include "crypto/tables/tiger.inc"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

// The digest of CommonTestBlock.
constexpr uint8_t kTigerTestVector[24] = {0x58, 0x78, 0x75, 0x23, 0xE0, 0x9A, 0x90, 0x84, 0xD8, 0xE3, 0x62, 0x96,
                                          0x68, 0x95, 0xE0, 0xEF, 0x9E, 0x62, 0x1B, 0x4F, 0xBC, 0x4A, 0x44, 0xCA};

const THashClass kTigerClass{"THash_Tiger", THash_MD4::Class, 24, kTigerTestVector, MakeHashObject<THash_Tiger>};

// 0x0123456789ABCDEF, 0xFEDCBA9876543210, 0xF096A5B4C3B2E187 as halves,
// least significant first.
constexpr uint32_t kInitialWords[10] = {0x89ABCDEF, 0x01234567, 0x76543210, 0xFEDCBA98, 0xC3B2E187, 0xF096A5B4};

const auto& t1 = kTigerSBoxes[0];
const auto& t2 = kTigerSBoxes[1];
const auto& t3 = kTigerSBoxes[2];
const auto& t4 = kTigerSBoxes[3];

inline uint8_t Byte(uint64_t x, int i) { return static_cast<uint8_t>(x >> (8 * i)); }

inline void Round(uint64_t& a, uint64_t& b, uint64_t& c, uint64_t x, uint64_t multiplier) {
  c ^= x;
  a -= t1[Byte(c, 0)] ^ t2[Byte(c, 2)] ^ t3[Byte(c, 4)] ^ t4[Byte(c, 6)];
  b += t4[Byte(c, 1)] ^ t3[Byte(c, 3)] ^ t2[Byte(c, 5)] ^ t1[Byte(c, 7)];
  b *= multiplier;
}

inline void Pass(uint64_t& a, uint64_t& b, uint64_t& c, const uint64_t (&x)[8], uint64_t multiplier) {
  Round(a, b, c, x[0], multiplier);
  Round(b, c, a, x[1], multiplier);
  Round(c, a, b, x[2], multiplier);
  Round(a, b, c, x[3], multiplier);
  Round(b, c, a, x[4], multiplier);
  Round(c, a, b, x[5], multiplier);
  Round(a, b, c, x[6], multiplier);
  Round(b, c, a, x[7], multiplier);
}

// The shifts work on unsigned words: both right shifts bring in zeros.
inline void KeySchedule(uint64_t (&x)[8]) {
  x[0] -= x[7] ^ 0xA5A5A5A5A5A5A5A5;
  x[1] ^= x[0];
  x[2] += x[1];
  x[3] -= x[2] ^ (~x[1] << 19);
  x[4] ^= x[3];
  x[5] += x[4];
  x[6] -= x[5] ^ (~x[4] >> 23);
  x[7] ^= x[6];
  x[0] += x[7];
  x[1] -= x[0] ^ (~x[7] << 19);
  x[2] ^= x[1];
  x[3] += x[2];
  x[4] -= x[3] ^ (~x[2] >> 23);
  x[5] ^= x[4];
  x[6] += x[5];
  x[7] -= x[6] ^ 0x0123456789ABCDEF;
}

}  // namespace

THashClassRef THash_Tiger::Class() { return &kTigerClass; }

void THash_Tiger::Init() {
  if (passes_ < 3 || passes_ > 32) passes_ = 3;
  Reset(kInitialWords);
}

void THash_Tiger::Finish() {
  CompressLastBlock(false, 0x01);
  ApplyProtection(false);
}

void THash_Tiger::Transform(const uint8_t* block) {
  uint64_t a = LoadLE64(digestWords_), b = LoadLE64(digestWords_ + 8), c = LoadLE64(digestWords_ + 16);
  uint64_t x[8];
  for (int i = 0; i < 8; ++i) x[i] = LoadLE64(block + 8 * i);
  const uint64_t aa = a, bb = b, cc = c;
  Pass(a, b, c, x, 5);
  KeySchedule(x);
  Pass(c, a, b, x, 7);
  KeySchedule(x);
  Pass(b, c, a, x, 9);
  for (int pass = 3; pass < passes_; ++pass) {
    KeySchedule(x);
    Pass(a, b, c, x, 9);
    const uint64_t t = a;
    a = c;
    c = b;
    b = t;
  }
  StoreLE64(digestWords_, a ^ aa);
  StoreLE64(digestWords_ + 8, b - bb);
  StoreLE64(digestWords_ + 16, c + cc);
}

}  // namespace kv::crypto
