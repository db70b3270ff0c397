// HAVAL (1992): 3, 4 or 5 passes of 32 steps over a 128-byte block, each
// pass with its Boolean function and word order, constants from the
// fractional digits of pi.
#include <bit>
#include <cstring>

#include "crypto/blockfeed.h"
#include "crypto/digests.h"
#include "crypto/tables/pi.inc"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

// The digests of CommonTestBlock.
constexpr uint8_t kHaval128TestVector[16] = {0xD8, 0xCB, 0xCD, 0xEC, 0x7A, 0xFD, 0xC8, 0xA5, 0xF2, 0x7B, 0xD2, 0x12,
                                             0xB9, 0x33, 0x9A, 0xBD};
constexpr uint8_t kHaval160TestVector[20] = {0x13, 0xDD, 0xBD, 0x32, 0x33, 0xBC, 0x04, 0x8D, 0x6D, 0xF6, 0x63, 0x56,
                                             0x37, 0xE2, 0xA0, 0xD0, 0x53, 0x1B, 0x99, 0x03};
constexpr uint8_t kHaval192TestVector[24] = {0x30, 0xAE, 0xEC, 0x3F, 0xC1, 0x8E, 0x61, 0x18, 0xA4, 0xF2, 0xA3, 0xE8,
                                             0x06, 0x6C, 0x3B, 0x64, 0xA6, 0xA9, 0x2E, 0x7D, 0xE2, 0x52, 0xA0, 0xB5};
constexpr uint8_t kHaval224TestVector[28] = {0x32, 0x3A, 0xDC, 0xB3, 0x75, 0xB5, 0x8F, 0x5A, 0x6A, 0xF1, 0x66, 0x89,
                                             0x99, 0x5A, 0x7A, 0x98, 0x71, 0x6E, 0x22, 0x77, 0xBC, 0x02, 0x29, 0x38,
                                             0x67, 0xA5, 0xCC, 0xE1};
constexpr uint8_t kHaval256TestVector[32] = {0xE9, 0x92, 0xC1, 0xFB, 0x79, 0xE9, 0xBA, 0xA8, 0x28, 0x5C, 0x7A, 0x73,
                                             0x0B, 0xEB, 0x0C, 0x7C, 0xAD, 0xF3, 0xF7, 0xAD, 0x26, 0xD7, 0xEF, 0xE2,
                                             0x1F, 0xF4, 0xBF, 0x67, 0x57, 0x69, 0xD5, 0x9A};

const THashClass kHaval256Class{"THash_Haval256", THash::Class, 32, kHaval256TestVector,
                                MakeHashObject<THash_Haval256>};
const THashClass kHaval224Class{"THash_Haval224", THash_Haval256::Class, 28, kHaval224TestVector,
                                MakeHashObject<THash_Haval224>};
const THashClass kHaval192Class{"THash_Haval192", THash_Haval256::Class, 24, kHaval192TestVector,
                                MakeHashObject<THash_Haval192>};
const THashClass kHaval160Class{"THash_Haval160", THash_Haval256::Class, 20, kHaval160TestVector,
                                MakeHashObject<THash_Haval160>};
const THashClass kHaval128Class{"THash_Haval128", THash_Haval256::Class, 16, kHaval128TestVector,
                                MakeHashObject<THash_Haval128>};

// The Boolean functions, on x6 .. x0 given as x[6] .. x[0].
using Words7 = uint32_t[7];
inline uint32_t F1(const Words7& x) { return (x[1] & (x[0] ^ x[4])) ^ (x[2] & x[5]) ^ (x[3] & x[6]) ^ x[0]; }
inline uint32_t F2(const Words7& x) {
  return (x[2] & ((x[1] & ~x[3]) ^ (x[4] & x[5]) ^ x[6] ^ x[0])) ^ (x[4] & (x[1] ^ x[5])) ^ (x[3] & x[5]) ^ x[0];
}
inline uint32_t F3(const Words7& x) {
  return (x[3] & ((x[1] & x[2]) ^ x[6] ^ x[0])) ^ (x[1] & x[4]) ^ (x[2] & x[5]) ^ x[0];
}
inline uint32_t F4(const Words7& x) {
  return (x[4] & ((x[5] & ~x[2]) ^ (x[3] & ~x[6]) ^ x[1] ^ x[6] ^ x[0])) ^ (x[3] & ((x[1] & x[2]) ^ x[5] ^ x[6])) ^
         (x[2] & x[6]) ^ x[0];
}
inline uint32_t F5(const Words7& x) {
  return (x[0] & ((x[1] & x[2] & x[3]) ^ ~x[5])) ^ (x[1] & x[4]) ^ (x[2] & x[5]) ^ (x[3] & x[6]);
}
using BooleanFunction = uint32_t (*)(const Words7&);
constexpr BooleanFunction kFunctions[5] = {F1, F2, F3, F4, F5};

// The permutation of each pass for each pass count: the register that goes
// in as x6, x5, .. x0.
constexpr uint8_t kPermutations[3][5][7] = {
    {{1, 0, 3, 5, 6, 2, 4}, {4, 2, 1, 0, 5, 3, 6}, {6, 1, 2, 3, 4, 5, 0}},
    {{2, 6, 1, 4, 5, 3, 0}, {3, 5, 2, 0, 1, 6, 4}, {1, 4, 3, 6, 0, 2, 5}, {6, 4, 0, 5, 2, 1, 3}},
    {{3, 4, 1, 0, 5, 2, 6}, {6, 2, 1, 0, 3, 4, 5}, {2, 6, 0, 4, 3, 1, 5}, {1, 5, 3, 2, 0, 4, 6},
     {2, 5, 0, 6, 4, 3, 1}},
};

// The message word of each step, per pass.
constexpr uint8_t kWordOrder[5][32] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30,
     31},
    {5, 14, 26, 18, 11, 28, 7, 16, 0, 23, 20, 22, 1, 10, 4, 8, 30, 3, 21, 9, 17, 24, 29, 6, 19, 12, 15, 13, 2, 25, 31,
     27},
    {19, 9, 4, 20, 28, 17, 8, 22, 29, 14, 25, 12, 24, 30, 16, 26, 31, 15, 7, 3, 1, 0, 18, 27, 13, 6, 21, 10, 23, 11, 5,
     2},
    {24, 4, 0, 14, 2, 7, 28, 23, 26, 6, 30, 20, 18, 25, 19, 3, 22, 11, 31, 21, 8, 27, 12, 9, 1, 29, 5, 15, 17, 10, 16,
     13},
    {27, 3, 21, 26, 17, 11, 20, 29, 19, 0, 12, 7, 13, 8, 31, 10, 5, 9, 14, 30, 18, 6, 28, 24, 2, 23, 16, 22, 4, 1, 25,
     15},
};

// Pass p's constants: pi's fraction from its ninth word on, 32 per pass
// after the first (which adds none).
inline uint32_t Constant(int pass, int step) { return pass == 0 ? 0 : kPiFractionWords[8 + 32 * (pass - 1) + step]; }

template <int Passes>
void Compress(uint32_t (&words)[8], const uint8_t* block) {
  uint32_t w[32];
  LoadWordsLE(w, block, 32);
  uint32_t t[8];
  std::memcpy(t, words, sizeof t);
  for (int pass = 0; pass < Passes; ++pass) {
    const uint8_t(&permutation)[7] = kPermutations[Passes - 3][pass];
    for (int step = 0; step < 32; ++step) {
      // Step i works on the registers rotated by i: x_j is t[(j - i) mod 8].
      const auto reg = [&](int j) -> uint32_t& { return t[(j - step) & 7]; };
      Words7 x;
      for (int j = 0; j < 7; ++j) x[6 - j] = reg(permutation[j]);
      const uint32_t f = kFunctions[pass](x);
      reg(7) = std::rotr(f, 7) + std::rotr(reg(7), 11) + w[kWordOrder[pass][step]] + Constant(pass, step);
    }
  }
  for (int i = 0; i < 8; ++i) words[i] += t[i];
}

}  // namespace

THashClassRef THash_Haval256::Class() { return &kHaval256Class; }
THashClassRef THash_Haval224::Class() { return &kHaval224Class; }
THashClassRef THash_Haval192::Class() { return &kHaval192Class; }
THashClassRef THash_Haval160::Class() { return &kHaval160Class; }
THashClassRef THash_Haval128::Class() { return &kHaval128Class; }

THash_Haval256::~THash_Haval256() {
  ZeroKeyMaterial(words_, sizeof words_);
  ZeroKeyMaterial(block_, sizeof block_);
}

void THash_Haval256::Init() {
  std::memset(block_, 0, sizeof block_);
  if (passes_ < 3 || passes_ > 5) {
    const int32_t size = DigestSize();
    passes_ = size <= 20 ? 3 : size < 32 ? 4 : 5;
  }
  byteCount_ = 0;
  StoreWordsLE(words_, kPiFractionWords, 8);
  ApplyProtection(true);
}

// By the pass count as it stands: data fed before Init (passes not yet
// settled) gets three.
void THash_Haval256::Transform(const uint8_t* block) {
  uint32_t words[8];
  LoadWordsLE(words, words_, 8);
  switch (passes_) {
    case 4:
      Compress<4>(words, block);
      break;
    case 5:
      Compress<5>(words, block);
      break;
    default:
      Compress<3>(words, block);
  }
  StoreWordsLE(words_, words, 8);
}

void THash_Haval256::Update(const void* data, int32_t size) {
  FeedBlocks(block_, byteCount_, data, size, [this](const uint8_t* block) { Transform(block); });
}

void THash_Haval256::Finish() {
  size_t at = byteCount_ % 128;
  block_[at++] = 0x01;
  std::memset(block_ + at, 0, sizeof block_ - at);
  // The last ten bytes are the version, passes and size, and the length.
  if (at > 118) {
    Transform(block_);
    std::memset(block_, 0, sizeof block_);
  }
  const uint32_t bits = static_cast<uint32_t>(8 * DigestSize());
  block_[118] = static_cast<uint8_t>(1 | passes_ << 3 | (bits & 3) << 6);
  block_[119] = static_cast<uint8_t>(bits >> 2);
  StoreLE64(block_ + 120, byteCount_ * 8);
  Transform(block_);
  std::memset(block_, 0, sizeof block_);
  Fold();
  ApplyProtection(false);
}

// The published tailoring of the eight words to the smaller sizes.
void THash_Haval256::Fold() {
  uint32_t d[8];
  LoadWordsLE(d, words_, 8);
  switch (DigestSize()) {
    case 28:
      d[0] += d[7] >> 27 & 0x1F;
      d[1] += d[7] >> 22 & 0x1F;
      d[2] += d[7] >> 18 & 0x0F;
      d[3] += d[7] >> 13 & 0x1F;
      d[4] += d[7] >> 9 & 0x0F;
      d[5] += d[7] >> 4 & 0x1F;
      d[6] += d[7] & 0x0F;
      break;
    case 24:
      d[0] += std::rotr((d[7] & 0x0000001F) | (d[6] & 0xFC000000), 26);
      d[1] += (d[7] & 0x000003E0) | (d[6] & 0x0000001F);
      d[2] += ((d[7] & 0x0000FC00) | (d[6] & 0x000003E0)) >> 5;
      d[3] += ((d[7] & 0x001F0000) | (d[6] & 0x0000FC00)) >> 10;
      d[4] += ((d[7] & 0x03E00000) | (d[6] & 0x001F0000)) >> 16;
      d[5] += ((d[7] & 0xFC000000) | (d[6] & 0x03E00000)) >> 21;
      break;
    case 20:
      d[0] += std::rotr((d[7] & 0x0000003F) | (d[6] & 0xFE000000) | (d[5] & 0x01F80000), 19);
      d[1] += std::rotr((d[7] & 0x00000FC0) | (d[6] & 0x0000003F) | (d[5] & 0xFE000000), 25);
      d[2] += (d[7] & 0x0007F000) | (d[6] & 0x00000FC0) | (d[5] & 0x0000003F);
      d[3] += ((d[7] & 0x01F80000) | (d[6] & 0x0007F000) | (d[5] & 0x00000FC0)) >> 6;
      d[4] += ((d[7] & 0xFE000000) | (d[6] & 0x01F80000) | (d[5] & 0x0007F000)) >> 12;
      break;
    case 16:
      d[0] += std::rotr((d[7] & 0x000000FF) | (d[6] & 0xFF000000) | (d[5] & 0x00FF0000) | (d[4] & 0x0000FF00), 8);
      d[1] += std::rotr((d[7] & 0x0000FF00) | (d[6] & 0x000000FF) | (d[5] & 0xFF000000) | (d[4] & 0x00FF0000), 16);
      d[2] += std::rotr((d[7] & 0x00FF0000) | (d[6] & 0x0000FF00) | (d[5] & 0x000000FF) | (d[4] & 0xFF000000), 24);
      d[3] += (d[7] & 0xFF000000) | (d[6] & 0x00FF0000) | (d[5] & 0x0000FF00) | (d[4] & 0x000000FF);
      break;
    default:
      return;
  }
  StoreWordsLE(words_, d, 8);
}

}  // namespace kv::crypto
