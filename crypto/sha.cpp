// SHA (FIPS PUB 180 of 1993) and SHA-1 (FIPS PUB 180-1): the same 80 steps;
// only the message schedule differs, by a one-bit rotation.
#include "crypto/md4family.h"
#include "crypto/md4steps.h"

namespace kv::crypto {

namespace {

// The digests of CommonTestBlock.
constexpr uint8_t kSHATestVector[20] = {0xDC, 0x1F, 0x7D, 0x7C, 0x96, 0xDD, 0xC7, 0xFC, 0x4D, 0x0A,
                                        0xF2, 0xCC, 0x12, 0xE7, 0xF7, 0x66, 0x5B, 0xB1, 0x85, 0xAC};
constexpr uint8_t kSHA1TestVector[20] = {0x9A, 0x01, 0x2E, 0x63, 0x96, 0x2A, 0x92, 0xEB, 0xD8, 0x2E,
                                         0xF0, 0xBC, 0x1C, 0xA4, 0x51, 0x6A, 0x08, 0x69, 0x2E, 0x68};

const THashClass kSHAClass{"THash_SHA", THash_RipeMD160::Class, 20, kSHATestVector, MakeHashObject<THash_SHA>};
const THashClass kSHA1Class{"THash_SHA1", THash_SHA::Class, 20, kSHA1TestVector, MakeHashObject<THash_SHA1>};

// Word t of the schedule, from the four it depends on; rotated by one bit
// for SHA-1.
template <bool Rotate>
inline uint32_t Schedule(uint32_t* w, int t) {
  const uint32_t x = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];
  return w[t] = Rotate ? std::rotl(x, 1) : x;
}

// The block as big-endian words, each turned around by the given form of the
// byte swap.
template <uint32_t (*Swap)(uint32_t)>
void LoadBlockBE(uint32_t* w, const uint8_t* block) {
  for (int t = 0; t < 16; ++t) w[t] = LoadBE32Using<Swap>(block + 4 * t);
}

template <uint32_t (*Swap)(uint32_t)>
void ExpandBlock(uint32_t* w, const uint8_t* block, bool rotate) {
  LoadBlockBE<Swap>(w, block);
  for (int t = 16; t < 80; ++t) rotate ? Schedule<true>(w, t) : Schedule<false>(w, t);
}

// The 80 steps on the chaining words h. The schedule goes into w word by word
// as the steps need it: the same 80 words ExpandBlock gives, computed where
// they can overlap with the steps.
template <uint32_t (*Swap)(uint32_t), bool Rotate>
void Compress(uint32_t (&h)[5], const uint8_t* block) {
  uint32_t w[80];
  LoadBlockBE<Swap>(w, block);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];

  ShaStep<ShaCh>(a, b, c, d, e, w[0] + 0x5A827999);
  ShaStep<ShaCh>(e, a, b, c, d, w[1] + 0x5A827999);
  ShaStep<ShaCh>(d, e, a, b, c, w[2] + 0x5A827999);
  ShaStep<ShaCh>(c, d, e, a, b, w[3] + 0x5A827999);
  ShaStep<ShaCh>(b, c, d, e, a, w[4] + 0x5A827999);
  ShaStep<ShaCh>(a, b, c, d, e, w[5] + 0x5A827999);
  ShaStep<ShaCh>(e, a, b, c, d, w[6] + 0x5A827999);
  ShaStep<ShaCh>(d, e, a, b, c, w[7] + 0x5A827999);
  ShaStep<ShaCh>(c, d, e, a, b, w[8] + 0x5A827999);
  ShaStep<ShaCh>(b, c, d, e, a, w[9] + 0x5A827999);
  ShaStep<ShaCh>(a, b, c, d, e, w[10] + 0x5A827999);
  ShaStep<ShaCh>(e, a, b, c, d, w[11] + 0x5A827999);
  ShaStep<ShaCh>(d, e, a, b, c, w[12] + 0x5A827999);
  ShaStep<ShaCh>(c, d, e, a, b, w[13] + 0x5A827999);
  ShaStep<ShaCh>(b, c, d, e, a, w[14] + 0x5A827999);
  ShaStep<ShaCh>(a, b, c, d, e, w[15] + 0x5A827999);
  ShaStep<ShaCh>(e, a, b, c, d, Schedule<Rotate>(w, 16) + 0x5A827999);
  ShaStep<ShaCh>(d, e, a, b, c, Schedule<Rotate>(w, 17) + 0x5A827999);
  ShaStep<ShaCh>(c, d, e, a, b, Schedule<Rotate>(w, 18) + 0x5A827999);
  ShaStep<ShaCh>(b, c, d, e, a, Schedule<Rotate>(w, 19) + 0x5A827999);

  ShaStep<ShaParity>(a, b, c, d, e, Schedule<Rotate>(w, 20) + 0x6ED9EBA1);
  ShaStep<ShaParity>(e, a, b, c, d, Schedule<Rotate>(w, 21) + 0x6ED9EBA1);
  ShaStep<ShaParity>(d, e, a, b, c, Schedule<Rotate>(w, 22) + 0x6ED9EBA1);
  ShaStep<ShaParity>(c, d, e, a, b, Schedule<Rotate>(w, 23) + 0x6ED9EBA1);
  ShaStep<ShaParity>(b, c, d, e, a, Schedule<Rotate>(w, 24) + 0x6ED9EBA1);
  ShaStep<ShaParity>(a, b, c, d, e, Schedule<Rotate>(w, 25) + 0x6ED9EBA1);
  ShaStep<ShaParity>(e, a, b, c, d, Schedule<Rotate>(w, 26) + 0x6ED9EBA1);
  ShaStep<ShaParity>(d, e, a, b, c, Schedule<Rotate>(w, 27) + 0x6ED9EBA1);
  ShaStep<ShaParity>(c, d, e, a, b, Schedule<Rotate>(w, 28) + 0x6ED9EBA1);
  ShaStep<ShaParity>(b, c, d, e, a, Schedule<Rotate>(w, 29) + 0x6ED9EBA1);
  ShaStep<ShaParity>(a, b, c, d, e, Schedule<Rotate>(w, 30) + 0x6ED9EBA1);
  ShaStep<ShaParity>(e, a, b, c, d, Schedule<Rotate>(w, 31) + 0x6ED9EBA1);
  ShaStep<ShaParity>(d, e, a, b, c, Schedule<Rotate>(w, 32) + 0x6ED9EBA1);
  ShaStep<ShaParity>(c, d, e, a, b, Schedule<Rotate>(w, 33) + 0x6ED9EBA1);
  ShaStep<ShaParity>(b, c, d, e, a, Schedule<Rotate>(w, 34) + 0x6ED9EBA1);
  ShaStep<ShaParity>(a, b, c, d, e, Schedule<Rotate>(w, 35) + 0x6ED9EBA1);
  ShaStep<ShaParity>(e, a, b, c, d, Schedule<Rotate>(w, 36) + 0x6ED9EBA1);
  ShaStep<ShaParity>(d, e, a, b, c, Schedule<Rotate>(w, 37) + 0x6ED9EBA1);
  ShaStep<ShaParity>(c, d, e, a, b, Schedule<Rotate>(w, 38) + 0x6ED9EBA1);
  ShaStep<ShaParity>(b, c, d, e, a, Schedule<Rotate>(w, 39) + 0x6ED9EBA1);

  ShaStep<ShaMaj>(a, b, c, d, e, Schedule<Rotate>(w, 40) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(e, a, b, c, d, Schedule<Rotate>(w, 41) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(d, e, a, b, c, Schedule<Rotate>(w, 42) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(c, d, e, a, b, Schedule<Rotate>(w, 43) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(b, c, d, e, a, Schedule<Rotate>(w, 44) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(a, b, c, d, e, Schedule<Rotate>(w, 45) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(e, a, b, c, d, Schedule<Rotate>(w, 46) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(d, e, a, b, c, Schedule<Rotate>(w, 47) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(c, d, e, a, b, Schedule<Rotate>(w, 48) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(b, c, d, e, a, Schedule<Rotate>(w, 49) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(a, b, c, d, e, Schedule<Rotate>(w, 50) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(e, a, b, c, d, Schedule<Rotate>(w, 51) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(d, e, a, b, c, Schedule<Rotate>(w, 52) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(c, d, e, a, b, Schedule<Rotate>(w, 53) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(b, c, d, e, a, Schedule<Rotate>(w, 54) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(a, b, c, d, e, Schedule<Rotate>(w, 55) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(e, a, b, c, d, Schedule<Rotate>(w, 56) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(d, e, a, b, c, Schedule<Rotate>(w, 57) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(c, d, e, a, b, Schedule<Rotate>(w, 58) + 0x8F1BBCDC);
  ShaStep<ShaMaj>(b, c, d, e, a, Schedule<Rotate>(w, 59) + 0x8F1BBCDC);

  ShaStep<ShaParity>(a, b, c, d, e, Schedule<Rotate>(w, 60) + 0xCA62C1D6);
  ShaStep<ShaParity>(e, a, b, c, d, Schedule<Rotate>(w, 61) + 0xCA62C1D6);
  ShaStep<ShaParity>(d, e, a, b, c, Schedule<Rotate>(w, 62) + 0xCA62C1D6);
  ShaStep<ShaParity>(c, d, e, a, b, Schedule<Rotate>(w, 63) + 0xCA62C1D6);
  ShaStep<ShaParity>(b, c, d, e, a, Schedule<Rotate>(w, 64) + 0xCA62C1D6);
  ShaStep<ShaParity>(a, b, c, d, e, Schedule<Rotate>(w, 65) + 0xCA62C1D6);
  ShaStep<ShaParity>(e, a, b, c, d, Schedule<Rotate>(w, 66) + 0xCA62C1D6);
  ShaStep<ShaParity>(d, e, a, b, c, Schedule<Rotate>(w, 67) + 0xCA62C1D6);
  ShaStep<ShaParity>(c, d, e, a, b, Schedule<Rotate>(w, 68) + 0xCA62C1D6);
  ShaStep<ShaParity>(b, c, d, e, a, Schedule<Rotate>(w, 69) + 0xCA62C1D6);
  ShaStep<ShaParity>(a, b, c, d, e, Schedule<Rotate>(w, 70) + 0xCA62C1D6);
  ShaStep<ShaParity>(e, a, b, c, d, Schedule<Rotate>(w, 71) + 0xCA62C1D6);
  ShaStep<ShaParity>(d, e, a, b, c, Schedule<Rotate>(w, 72) + 0xCA62C1D6);
  ShaStep<ShaParity>(c, d, e, a, b, Schedule<Rotate>(w, 73) + 0xCA62C1D6);
  ShaStep<ShaParity>(b, c, d, e, a, Schedule<Rotate>(w, 74) + 0xCA62C1D6);
  ShaStep<ShaParity>(a, b, c, d, e, Schedule<Rotate>(w, 75) + 0xCA62C1D6);
  ShaStep<ShaParity>(e, a, b, c, d, Schedule<Rotate>(w, 76) + 0xCA62C1D6);
  ShaStep<ShaParity>(d, e, a, b, c, Schedule<Rotate>(w, 77) + 0xCA62C1D6);
  ShaStep<ShaParity>(c, d, e, a, b, Schedule<Rotate>(w, 78) + 0xCA62C1D6);
  ShaStep<ShaParity>(b, c, d, e, a, Schedule<Rotate>(w, 79) + 0xCA62C1D6);

  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

}  // namespace

void ExpandSHABlock386(uint32_t* w, const uint8_t* block, bool rotate) { ExpandBlock<SwapBytes386>(w, block, rotate); }
void ExpandSHABlock486(uint32_t* w, const uint8_t* block, bool rotate) { ExpandBlock<SwapBytes486>(w, block, rotate); }
ExpandSHABlockProc ExpandSHABlock = ExpandSHABlock486;

THashClassRef THash_SHA::Class() { return &kSHAClass; }
THashClassRef THash_SHA1::Class() { return &kSHA1Class; }

void THash_SHA::Finish() {
  CompressLastBlock(true);
  // The digest reads most significant byte first; the words stay so and an
  // Update after Finish continues from them as they are.
  SwapBytesBuffer(digestWords_, digestWords_, 5);
  ApplyProtection(false);
}

// Compresses with the schedule ExpandSHABlock stands for: its form of the
// byte swap, the rotation as the class says.
void THash_SHA::Transform(const uint8_t* block) {
  uint32_t h[5] = {Word(0), Word(1), Word(2), Word(3), Word(4)};
  const bool rotate = RotatesSchedule();
  if (ExpandSHABlock == ExpandSHABlock386) {
    rotate ? Compress<SwapBytes386, true>(h, block) : Compress<SwapBytes386, false>(h, block);
  } else {
    rotate ? Compress<SwapBytes486, true>(h, block) : Compress<SwapBytes486, false>(h, block);
  }
  for (int i = 0; i < 5; ++i) SetWord(i, h[i]);
}

}  // namespace kv::crypto
