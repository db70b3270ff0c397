// The RIPEMD compressions: two parallel lines over the same message words.
// RIPEMD-256 and RIPEMD-320 keep both lines apart as chaining values and
// exchange one word between them after each round.
#include <utility>

#include "crypto/md4family.h"
#include "crypto/md4steps.h"

namespace kv::crypto {

namespace {

// The digests of CommonTestBlock.
constexpr uint8_t kRipeMD128TestVector[16] = {0xCF, 0xA0, 0x32, 0xCF, 0xD0, 0x8F, 0x87, 0x3A,
                                              0x78, 0xDF, 0x13, 0xE7, 0xEB, 0xCD, 0x98, 0x0F};
constexpr uint8_t kRipeMD160TestVector[20] = {0x19, 0x54, 0xDE, 0xBC, 0x1B, 0x55, 0x35, 0x30, 0x08, 0x1D,
                                              0x9B, 0x80, 0x70, 0xA0, 0xF2, 0x4A, 0x9D, 0xF7, 0x34, 0x04};
constexpr uint8_t kRipeMD256TestVector[32] = {0xC3, 0xB1, 0xD7, 0xAC, 0xA8, 0x9A, 0x47, 0x7A, 0x38, 0xD3, 0x6D,
                                              0x39, 0xEF, 0x00, 0xFB, 0x45, 0xFC, 0x4E, 0xC3, 0x1A, 0x71, 0x21,
                                              0xDB, 0x9E, 0x1C, 0x76, 0xC5, 0xDE, 0x99, 0x88, 0x18, 0xC2};
constexpr uint8_t kRipeMD320TestVector[40] = {0xB7, 0xBD, 0x2C, 0x75, 0xB7, 0x13, 0x50, 0x91, 0xE4, 0x67,
                                              0x09, 0x46, 0xF1, 0x41, 0x5A, 0x48, 0x45, 0xDF, 0x8E, 0x07,
                                              0xBA, 0x67, 0x4E, 0xA9, 0xFD, 0x66, 0xED, 0x01, 0xD9, 0x6F,
                                              0x23, 0x20, 0xB5, 0x11, 0x12, 0xC5, 0xA7, 0x41, 0xA6, 0x5C};

const THashClass kRipeMD128Class{"THash_RipeMD128", THash_MD4::Class, 16, kRipeMD128TestVector,
                                 MakeHashObject<THash_RipeMD128>};
const THashClass kRipeMD160Class{"THash_RipeMD160", THash_MD4::Class, 20, kRipeMD160TestVector,
                                 MakeHashObject<THash_RipeMD160>};
const THashClass kRipeMD256Class{"THash_RipeMD256", THash_MD4::Class, 32, kRipeMD256TestVector,
                                 MakeHashObject<THash_RipeMD256>};
const THashClass kRipeMD320Class{"THash_RipeMD320", THash_MD4::Class, 40, kRipeMD320TestVector,
                                 MakeHashObject<THash_RipeMD320>};

// RIPEMD-256 starts its second line with values of its own; the last two
// words are not used.
constexpr uint32_t kRipeMD256InitialWords[10] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0x76543210,
                                                 0xFEDCBA98, 0x89ABCDEF, 0x01234567, 0x01234567, 0x3C2D1E0F};

// The two lines of the 128-bit widths over one block. With Exchange
// (RIPEMD-256) they trade one word after each round.
template <bool Exchange>
void Lines128(const uint32_t (&x)[16], uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& aa, uint32_t& bb,
              uint32_t& cc, uint32_t& dd) {
  // Round 1
  Rmd128Step<RmdF1>(a, b, c, d, x[0], 11);
  Rmd128Step<RmdF1>(d, a, b, c, x[1], 14);
  Rmd128Step<RmdF1>(c, d, a, b, x[2], 15);
  Rmd128Step<RmdF1>(b, c, d, a, x[3], 12);
  Rmd128Step<RmdF1>(a, b, c, d, x[4], 5);
  Rmd128Step<RmdF1>(d, a, b, c, x[5], 8);
  Rmd128Step<RmdF1>(c, d, a, b, x[6], 7);
  Rmd128Step<RmdF1>(b, c, d, a, x[7], 9);
  Rmd128Step<RmdF1>(a, b, c, d, x[8], 11);
  Rmd128Step<RmdF1>(d, a, b, c, x[9], 13);
  Rmd128Step<RmdF1>(c, d, a, b, x[10], 14);
  Rmd128Step<RmdF1>(b, c, d, a, x[11], 15);
  Rmd128Step<RmdF1>(a, b, c, d, x[12], 6);
  Rmd128Step<RmdF1>(d, a, b, c, x[13], 7);
  Rmd128Step<RmdF1>(c, d, a, b, x[14], 9);
  Rmd128Step<RmdF1>(b, c, d, a, x[15], 8);
  Rmd128Step<RmdF4>(aa, bb, cc, dd, x[5] + 0x50A28BE6, 8);
  Rmd128Step<RmdF4>(dd, aa, bb, cc, x[14] + 0x50A28BE6, 9);
  Rmd128Step<RmdF4>(cc, dd, aa, bb, x[7] + 0x50A28BE6, 9);
  Rmd128Step<RmdF4>(bb, cc, dd, aa, x[0] + 0x50A28BE6, 11);
  Rmd128Step<RmdF4>(aa, bb, cc, dd, x[9] + 0x50A28BE6, 13);
  Rmd128Step<RmdF4>(dd, aa, bb, cc, x[2] + 0x50A28BE6, 15);
  Rmd128Step<RmdF4>(cc, dd, aa, bb, x[11] + 0x50A28BE6, 15);
  Rmd128Step<RmdF4>(bb, cc, dd, aa, x[4] + 0x50A28BE6, 5);
  Rmd128Step<RmdF4>(aa, bb, cc, dd, x[13] + 0x50A28BE6, 7);
  Rmd128Step<RmdF4>(dd, aa, bb, cc, x[6] + 0x50A28BE6, 7);
  Rmd128Step<RmdF4>(cc, dd, aa, bb, x[15] + 0x50A28BE6, 8);
  Rmd128Step<RmdF4>(bb, cc, dd, aa, x[8] + 0x50A28BE6, 11);
  Rmd128Step<RmdF4>(aa, bb, cc, dd, x[1] + 0x50A28BE6, 14);
  Rmd128Step<RmdF4>(dd, aa, bb, cc, x[10] + 0x50A28BE6, 14);
  Rmd128Step<RmdF4>(cc, dd, aa, bb, x[3] + 0x50A28BE6, 12);
  Rmd128Step<RmdF4>(bb, cc, dd, aa, x[12] + 0x50A28BE6, 6);
  if constexpr (Exchange) std::swap(a, aa);

  // Round 2
  Rmd128Step<RmdF2>(a, b, c, d, x[7] + 0x5A827999, 7);
  Rmd128Step<RmdF2>(d, a, b, c, x[4] + 0x5A827999, 6);
  Rmd128Step<RmdF2>(c, d, a, b, x[13] + 0x5A827999, 8);
  Rmd128Step<RmdF2>(b, c, d, a, x[1] + 0x5A827999, 13);
  Rmd128Step<RmdF2>(a, b, c, d, x[10] + 0x5A827999, 11);
  Rmd128Step<RmdF2>(d, a, b, c, x[6] + 0x5A827999, 9);
  Rmd128Step<RmdF2>(c, d, a, b, x[15] + 0x5A827999, 7);
  Rmd128Step<RmdF2>(b, c, d, a, x[3] + 0x5A827999, 15);
  Rmd128Step<RmdF2>(a, b, c, d, x[12] + 0x5A827999, 7);
  Rmd128Step<RmdF2>(d, a, b, c, x[0] + 0x5A827999, 12);
  Rmd128Step<RmdF2>(c, d, a, b, x[9] + 0x5A827999, 15);
  Rmd128Step<RmdF2>(b, c, d, a, x[5] + 0x5A827999, 9);
  Rmd128Step<RmdF2>(a, b, c, d, x[2] + 0x5A827999, 11);
  Rmd128Step<RmdF2>(d, a, b, c, x[14] + 0x5A827999, 7);
  Rmd128Step<RmdF2>(c, d, a, b, x[11] + 0x5A827999, 13);
  Rmd128Step<RmdF2>(b, c, d, a, x[8] + 0x5A827999, 12);
  Rmd128Step<RmdF3>(aa, bb, cc, dd, x[6] + 0x5C4DD124, 9);
  Rmd128Step<RmdF3>(dd, aa, bb, cc, x[11] + 0x5C4DD124, 13);
  Rmd128Step<RmdF3>(cc, dd, aa, bb, x[3] + 0x5C4DD124, 15);
  Rmd128Step<RmdF3>(bb, cc, dd, aa, x[7] + 0x5C4DD124, 7);
  Rmd128Step<RmdF3>(aa, bb, cc, dd, x[0] + 0x5C4DD124, 12);
  Rmd128Step<RmdF3>(dd, aa, bb, cc, x[13] + 0x5C4DD124, 8);
  Rmd128Step<RmdF3>(cc, dd, aa, bb, x[5] + 0x5C4DD124, 9);
  Rmd128Step<RmdF3>(bb, cc, dd, aa, x[10] + 0x5C4DD124, 11);
  Rmd128Step<RmdF3>(aa, bb, cc, dd, x[14] + 0x5C4DD124, 7);
  Rmd128Step<RmdF3>(dd, aa, bb, cc, x[15] + 0x5C4DD124, 7);
  Rmd128Step<RmdF3>(cc, dd, aa, bb, x[8] + 0x5C4DD124, 12);
  Rmd128Step<RmdF3>(bb, cc, dd, aa, x[12] + 0x5C4DD124, 7);
  Rmd128Step<RmdF3>(aa, bb, cc, dd, x[4] + 0x5C4DD124, 6);
  Rmd128Step<RmdF3>(dd, aa, bb, cc, x[9] + 0x5C4DD124, 15);
  Rmd128Step<RmdF3>(cc, dd, aa, bb, x[1] + 0x5C4DD124, 13);
  Rmd128Step<RmdF3>(bb, cc, dd, aa, x[2] + 0x5C4DD124, 11);
  if constexpr (Exchange) std::swap(b, bb);

  // Round 3
  Rmd128Step<RmdF3>(a, b, c, d, x[3] + 0x6ED9EBA1, 11);
  Rmd128Step<RmdF3>(d, a, b, c, x[10] + 0x6ED9EBA1, 13);
  Rmd128Step<RmdF3>(c, d, a, b, x[14] + 0x6ED9EBA1, 6);
  Rmd128Step<RmdF3>(b, c, d, a, x[4] + 0x6ED9EBA1, 7);
  Rmd128Step<RmdF3>(a, b, c, d, x[9] + 0x6ED9EBA1, 14);
  Rmd128Step<RmdF3>(d, a, b, c, x[15] + 0x6ED9EBA1, 9);
  Rmd128Step<RmdF3>(c, d, a, b, x[8] + 0x6ED9EBA1, 13);
  Rmd128Step<RmdF3>(b, c, d, a, x[1] + 0x6ED9EBA1, 15);
  Rmd128Step<RmdF3>(a, b, c, d, x[2] + 0x6ED9EBA1, 14);
  Rmd128Step<RmdF3>(d, a, b, c, x[7] + 0x6ED9EBA1, 8);
  Rmd128Step<RmdF3>(c, d, a, b, x[0] + 0x6ED9EBA1, 13);
  Rmd128Step<RmdF3>(b, c, d, a, x[6] + 0x6ED9EBA1, 6);
  Rmd128Step<RmdF3>(a, b, c, d, x[13] + 0x6ED9EBA1, 5);
  Rmd128Step<RmdF3>(d, a, b, c, x[11] + 0x6ED9EBA1, 12);
  Rmd128Step<RmdF3>(c, d, a, b, x[5] + 0x6ED9EBA1, 7);
  Rmd128Step<RmdF3>(b, c, d, a, x[12] + 0x6ED9EBA1, 5);
  Rmd128Step<RmdF2>(aa, bb, cc, dd, x[15] + 0x6D703EF3, 9);
  Rmd128Step<RmdF2>(dd, aa, bb, cc, x[5] + 0x6D703EF3, 7);
  Rmd128Step<RmdF2>(cc, dd, aa, bb, x[1] + 0x6D703EF3, 15);
  Rmd128Step<RmdF2>(bb, cc, dd, aa, x[3] + 0x6D703EF3, 11);
  Rmd128Step<RmdF2>(aa, bb, cc, dd, x[7] + 0x6D703EF3, 8);
  Rmd128Step<RmdF2>(dd, aa, bb, cc, x[14] + 0x6D703EF3, 6);
  Rmd128Step<RmdF2>(cc, dd, aa, bb, x[6] + 0x6D703EF3, 6);
  Rmd128Step<RmdF2>(bb, cc, dd, aa, x[9] + 0x6D703EF3, 14);
  Rmd128Step<RmdF2>(aa, bb, cc, dd, x[11] + 0x6D703EF3, 12);
  Rmd128Step<RmdF2>(dd, aa, bb, cc, x[8] + 0x6D703EF3, 13);
  Rmd128Step<RmdF2>(cc, dd, aa, bb, x[12] + 0x6D703EF3, 5);
  Rmd128Step<RmdF2>(bb, cc, dd, aa, x[2] + 0x6D703EF3, 14);
  Rmd128Step<RmdF2>(aa, bb, cc, dd, x[10] + 0x6D703EF3, 13);
  Rmd128Step<RmdF2>(dd, aa, bb, cc, x[0] + 0x6D703EF3, 13);
  Rmd128Step<RmdF2>(cc, dd, aa, bb, x[4] + 0x6D703EF3, 7);
  Rmd128Step<RmdF2>(bb, cc, dd, aa, x[13] + 0x6D703EF3, 5);
  if constexpr (Exchange) std::swap(c, cc);

  // Round 4
  Rmd128Step<RmdF4>(a, b, c, d, x[1] + 0x8F1BBCDC, 11);
  Rmd128Step<RmdF4>(d, a, b, c, x[9] + 0x8F1BBCDC, 12);
  Rmd128Step<RmdF4>(c, d, a, b, x[11] + 0x8F1BBCDC, 14);
  Rmd128Step<RmdF4>(b, c, d, a, x[10] + 0x8F1BBCDC, 15);
  Rmd128Step<RmdF4>(a, b, c, d, x[0] + 0x8F1BBCDC, 14);
  Rmd128Step<RmdF4>(d, a, b, c, x[8] + 0x8F1BBCDC, 15);
  Rmd128Step<RmdF4>(c, d, a, b, x[12] + 0x8F1BBCDC, 9);
  Rmd128Step<RmdF4>(b, c, d, a, x[4] + 0x8F1BBCDC, 8);
  Rmd128Step<RmdF4>(a, b, c, d, x[13] + 0x8F1BBCDC, 9);
  Rmd128Step<RmdF4>(d, a, b, c, x[3] + 0x8F1BBCDC, 14);
  Rmd128Step<RmdF4>(c, d, a, b, x[7] + 0x8F1BBCDC, 5);
  Rmd128Step<RmdF4>(b, c, d, a, x[15] + 0x8F1BBCDC, 6);
  Rmd128Step<RmdF4>(a, b, c, d, x[14] + 0x8F1BBCDC, 8);
  Rmd128Step<RmdF4>(d, a, b, c, x[5] + 0x8F1BBCDC, 6);
  Rmd128Step<RmdF4>(c, d, a, b, x[6] + 0x8F1BBCDC, 5);
  Rmd128Step<RmdF4>(b, c, d, a, x[2] + 0x8F1BBCDC, 12);
  Rmd128Step<RmdF1>(aa, bb, cc, dd, x[8], 15);
  Rmd128Step<RmdF1>(dd, aa, bb, cc, x[6], 5);
  Rmd128Step<RmdF1>(cc, dd, aa, bb, x[4], 8);
  Rmd128Step<RmdF1>(bb, cc, dd, aa, x[1], 11);
  Rmd128Step<RmdF1>(aa, bb, cc, dd, x[3], 14);
  Rmd128Step<RmdF1>(dd, aa, bb, cc, x[11], 14);
  Rmd128Step<RmdF1>(cc, dd, aa, bb, x[15], 6);
  Rmd128Step<RmdF1>(bb, cc, dd, aa, x[0], 14);
  Rmd128Step<RmdF1>(aa, bb, cc, dd, x[5], 6);
  Rmd128Step<RmdF1>(dd, aa, bb, cc, x[12], 9);
  Rmd128Step<RmdF1>(cc, dd, aa, bb, x[2], 12);
  Rmd128Step<RmdF1>(bb, cc, dd, aa, x[13], 9);
  Rmd128Step<RmdF1>(aa, bb, cc, dd, x[9], 12);
  Rmd128Step<RmdF1>(dd, aa, bb, cc, x[7], 5);
  Rmd128Step<RmdF1>(cc, dd, aa, bb, x[10], 15);
  Rmd128Step<RmdF1>(bb, cc, dd, aa, x[14], 8);
  if constexpr (Exchange) std::swap(d, dd);
}

// The two lines of the 160-bit widths over one block. With Exchange
// (RIPEMD-320) they trade one word after each round.
template <bool Exchange>
void Lines160(const uint32_t (&x)[16], uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e, uint32_t& aa,
              uint32_t& bb, uint32_t& cc, uint32_t& dd, uint32_t& ee) {
  // Round 1
  Rmd160Step<RmdF1>(a, b, c, d, e, x[0], 11);
  Rmd160Step<RmdF1>(e, a, b, c, d, x[1], 14);
  Rmd160Step<RmdF1>(d, e, a, b, c, x[2], 15);
  Rmd160Step<RmdF1>(c, d, e, a, b, x[3], 12);
  Rmd160Step<RmdF1>(b, c, d, e, a, x[4], 5);
  Rmd160Step<RmdF1>(a, b, c, d, e, x[5], 8);
  Rmd160Step<RmdF1>(e, a, b, c, d, x[6], 7);
  Rmd160Step<RmdF1>(d, e, a, b, c, x[7], 9);
  Rmd160Step<RmdF1>(c, d, e, a, b, x[8], 11);
  Rmd160Step<RmdF1>(b, c, d, e, a, x[9], 13);
  Rmd160Step<RmdF1>(a, b, c, d, e, x[10], 14);
  Rmd160Step<RmdF1>(e, a, b, c, d, x[11], 15);
  Rmd160Step<RmdF1>(d, e, a, b, c, x[12], 6);
  Rmd160Step<RmdF1>(c, d, e, a, b, x[13], 7);
  Rmd160Step<RmdF1>(b, c, d, e, a, x[14], 9);
  Rmd160Step<RmdF1>(a, b, c, d, e, x[15], 8);
  Rmd160Step<RmdF5>(aa, bb, cc, dd, ee, x[5] + 0x50A28BE6, 8);
  Rmd160Step<RmdF5>(ee, aa, bb, cc, dd, x[14] + 0x50A28BE6, 9);
  Rmd160Step<RmdF5>(dd, ee, aa, bb, cc, x[7] + 0x50A28BE6, 9);
  Rmd160Step<RmdF5>(cc, dd, ee, aa, bb, x[0] + 0x50A28BE6, 11);
  Rmd160Step<RmdF5>(bb, cc, dd, ee, aa, x[9] + 0x50A28BE6, 13);
  Rmd160Step<RmdF5>(aa, bb, cc, dd, ee, x[2] + 0x50A28BE6, 15);
  Rmd160Step<RmdF5>(ee, aa, bb, cc, dd, x[11] + 0x50A28BE6, 15);
  Rmd160Step<RmdF5>(dd, ee, aa, bb, cc, x[4] + 0x50A28BE6, 5);
  Rmd160Step<RmdF5>(cc, dd, ee, aa, bb, x[13] + 0x50A28BE6, 7);
  Rmd160Step<RmdF5>(bb, cc, dd, ee, aa, x[6] + 0x50A28BE6, 7);
  Rmd160Step<RmdF5>(aa, bb, cc, dd, ee, x[15] + 0x50A28BE6, 8);
  Rmd160Step<RmdF5>(ee, aa, bb, cc, dd, x[8] + 0x50A28BE6, 11);
  Rmd160Step<RmdF5>(dd, ee, aa, bb, cc, x[1] + 0x50A28BE6, 14);
  Rmd160Step<RmdF5>(cc, dd, ee, aa, bb, x[10] + 0x50A28BE6, 14);
  Rmd160Step<RmdF5>(bb, cc, dd, ee, aa, x[3] + 0x50A28BE6, 12);
  Rmd160Step<RmdF5>(aa, bb, cc, dd, ee, x[12] + 0x50A28BE6, 6);
  if constexpr (Exchange) std::swap(a, aa);

  // Round 2
  Rmd160Step<RmdF2>(e, a, b, c, d, x[7] + 0x5A827999, 7);
  Rmd160Step<RmdF2>(d, e, a, b, c, x[4] + 0x5A827999, 6);
  Rmd160Step<RmdF2>(c, d, e, a, b, x[13] + 0x5A827999, 8);
  Rmd160Step<RmdF2>(b, c, d, e, a, x[1] + 0x5A827999, 13);
  Rmd160Step<RmdF2>(a, b, c, d, e, x[10] + 0x5A827999, 11);
  Rmd160Step<RmdF2>(e, a, b, c, d, x[6] + 0x5A827999, 9);
  Rmd160Step<RmdF2>(d, e, a, b, c, x[15] + 0x5A827999, 7);
  Rmd160Step<RmdF2>(c, d, e, a, b, x[3] + 0x5A827999, 15);
  Rmd160Step<RmdF2>(b, c, d, e, a, x[12] + 0x5A827999, 7);
  Rmd160Step<RmdF2>(a, b, c, d, e, x[0] + 0x5A827999, 12);
  Rmd160Step<RmdF2>(e, a, b, c, d, x[9] + 0x5A827999, 15);
  Rmd160Step<RmdF2>(d, e, a, b, c, x[5] + 0x5A827999, 9);
  Rmd160Step<RmdF2>(c, d, e, a, b, x[2] + 0x5A827999, 11);
  Rmd160Step<RmdF2>(b, c, d, e, a, x[14] + 0x5A827999, 7);
  Rmd160Step<RmdF2>(a, b, c, d, e, x[11] + 0x5A827999, 13);
  Rmd160Step<RmdF2>(e, a, b, c, d, x[8] + 0x5A827999, 12);
  Rmd160Step<RmdF4>(ee, aa, bb, cc, dd, x[6] + 0x5C4DD124, 9);
  Rmd160Step<RmdF4>(dd, ee, aa, bb, cc, x[11] + 0x5C4DD124, 13);
  Rmd160Step<RmdF4>(cc, dd, ee, aa, bb, x[3] + 0x5C4DD124, 15);
  Rmd160Step<RmdF4>(bb, cc, dd, ee, aa, x[7] + 0x5C4DD124, 7);
  Rmd160Step<RmdF4>(aa, bb, cc, dd, ee, x[0] + 0x5C4DD124, 12);
  Rmd160Step<RmdF4>(ee, aa, bb, cc, dd, x[13] + 0x5C4DD124, 8);
  Rmd160Step<RmdF4>(dd, ee, aa, bb, cc, x[5] + 0x5C4DD124, 9);
  Rmd160Step<RmdF4>(cc, dd, ee, aa, bb, x[10] + 0x5C4DD124, 11);
  Rmd160Step<RmdF4>(bb, cc, dd, ee, aa, x[14] + 0x5C4DD124, 7);
  Rmd160Step<RmdF4>(aa, bb, cc, dd, ee, x[15] + 0x5C4DD124, 7);
  Rmd160Step<RmdF4>(ee, aa, bb, cc, dd, x[8] + 0x5C4DD124, 12);
  Rmd160Step<RmdF4>(dd, ee, aa, bb, cc, x[12] + 0x5C4DD124, 7);
  Rmd160Step<RmdF4>(cc, dd, ee, aa, bb, x[4] + 0x5C4DD124, 6);
  Rmd160Step<RmdF4>(bb, cc, dd, ee, aa, x[9] + 0x5C4DD124, 15);
  Rmd160Step<RmdF4>(aa, bb, cc, dd, ee, x[1] + 0x5C4DD124, 13);
  Rmd160Step<RmdF4>(ee, aa, bb, cc, dd, x[2] + 0x5C4DD124, 11);
  if constexpr (Exchange) std::swap(b, bb);

  // Round 3
  Rmd160Step<RmdF3>(d, e, a, b, c, x[3] + 0x6ED9EBA1, 11);
  Rmd160Step<RmdF3>(c, d, e, a, b, x[10] + 0x6ED9EBA1, 13);
  Rmd160Step<RmdF3>(b, c, d, e, a, x[14] + 0x6ED9EBA1, 6);
  Rmd160Step<RmdF3>(a, b, c, d, e, x[4] + 0x6ED9EBA1, 7);
  Rmd160Step<RmdF3>(e, a, b, c, d, x[9] + 0x6ED9EBA1, 14);
  Rmd160Step<RmdF3>(d, e, a, b, c, x[15] + 0x6ED9EBA1, 9);
  Rmd160Step<RmdF3>(c, d, e, a, b, x[8] + 0x6ED9EBA1, 13);
  Rmd160Step<RmdF3>(b, c, d, e, a, x[1] + 0x6ED9EBA1, 15);
  Rmd160Step<RmdF3>(a, b, c, d, e, x[2] + 0x6ED9EBA1, 14);
  Rmd160Step<RmdF3>(e, a, b, c, d, x[7] + 0x6ED9EBA1, 8);
  Rmd160Step<RmdF3>(d, e, a, b, c, x[0] + 0x6ED9EBA1, 13);
  Rmd160Step<RmdF3>(c, d, e, a, b, x[6] + 0x6ED9EBA1, 6);
  Rmd160Step<RmdF3>(b, c, d, e, a, x[13] + 0x6ED9EBA1, 5);
  Rmd160Step<RmdF3>(a, b, c, d, e, x[11] + 0x6ED9EBA1, 12);
  Rmd160Step<RmdF3>(e, a, b, c, d, x[5] + 0x6ED9EBA1, 7);
  Rmd160Step<RmdF3>(d, e, a, b, c, x[12] + 0x6ED9EBA1, 5);
  Rmd160Step<RmdF3>(dd, ee, aa, bb, cc, x[15] + 0x6D703EF3, 9);
  Rmd160Step<RmdF3>(cc, dd, ee, aa, bb, x[5] + 0x6D703EF3, 7);
  Rmd160Step<RmdF3>(bb, cc, dd, ee, aa, x[1] + 0x6D703EF3, 15);
  Rmd160Step<RmdF3>(aa, bb, cc, dd, ee, x[3] + 0x6D703EF3, 11);
  Rmd160Step<RmdF3>(ee, aa, bb, cc, dd, x[7] + 0x6D703EF3, 8);
  Rmd160Step<RmdF3>(dd, ee, aa, bb, cc, x[14] + 0x6D703EF3, 6);
  Rmd160Step<RmdF3>(cc, dd, ee, aa, bb, x[6] + 0x6D703EF3, 6);
  Rmd160Step<RmdF3>(bb, cc, dd, ee, aa, x[9] + 0x6D703EF3, 14);
  Rmd160Step<RmdF3>(aa, bb, cc, dd, ee, x[11] + 0x6D703EF3, 12);
  Rmd160Step<RmdF3>(ee, aa, bb, cc, dd, x[8] + 0x6D703EF3, 13);
  Rmd160Step<RmdF3>(dd, ee, aa, bb, cc, x[12] + 0x6D703EF3, 5);
  Rmd160Step<RmdF3>(cc, dd, ee, aa, bb, x[2] + 0x6D703EF3, 14);
  Rmd160Step<RmdF3>(bb, cc, dd, ee, aa, x[10] + 0x6D703EF3, 13);
  Rmd160Step<RmdF3>(aa, bb, cc, dd, ee, x[0] + 0x6D703EF3, 13);
  Rmd160Step<RmdF3>(ee, aa, bb, cc, dd, x[4] + 0x6D703EF3, 7);
  Rmd160Step<RmdF3>(dd, ee, aa, bb, cc, x[13] + 0x6D703EF3, 5);
  if constexpr (Exchange) std::swap(c, cc);

  // Round 4
  Rmd160Step<RmdF4>(c, d, e, a, b, x[1] + 0x8F1BBCDC, 11);
  Rmd160Step<RmdF4>(b, c, d, e, a, x[9] + 0x8F1BBCDC, 12);
  Rmd160Step<RmdF4>(a, b, c, d, e, x[11] + 0x8F1BBCDC, 14);
  Rmd160Step<RmdF4>(e, a, b, c, d, x[10] + 0x8F1BBCDC, 15);
  Rmd160Step<RmdF4>(d, e, a, b, c, x[0] + 0x8F1BBCDC, 14);
  Rmd160Step<RmdF4>(c, d, e, a, b, x[8] + 0x8F1BBCDC, 15);
  Rmd160Step<RmdF4>(b, c, d, e, a, x[12] + 0x8F1BBCDC, 9);
  Rmd160Step<RmdF4>(a, b, c, d, e, x[4] + 0x8F1BBCDC, 8);
  Rmd160Step<RmdF4>(e, a, b, c, d, x[13] + 0x8F1BBCDC, 9);
  Rmd160Step<RmdF4>(d, e, a, b, c, x[3] + 0x8F1BBCDC, 14);
  Rmd160Step<RmdF4>(c, d, e, a, b, x[7] + 0x8F1BBCDC, 5);
  Rmd160Step<RmdF4>(b, c, d, e, a, x[15] + 0x8F1BBCDC, 6);
  Rmd160Step<RmdF4>(a, b, c, d, e, x[14] + 0x8F1BBCDC, 8);
  Rmd160Step<RmdF4>(e, a, b, c, d, x[5] + 0x8F1BBCDC, 6);
  Rmd160Step<RmdF4>(d, e, a, b, c, x[6] + 0x8F1BBCDC, 5);
  Rmd160Step<RmdF4>(c, d, e, a, b, x[2] + 0x8F1BBCDC, 12);
  Rmd160Step<RmdF2>(cc, dd, ee, aa, bb, x[8] + 0x7A6D76E9, 15);
  Rmd160Step<RmdF2>(bb, cc, dd, ee, aa, x[6] + 0x7A6D76E9, 5);
  Rmd160Step<RmdF2>(aa, bb, cc, dd, ee, x[4] + 0x7A6D76E9, 8);
  Rmd160Step<RmdF2>(ee, aa, bb, cc, dd, x[1] + 0x7A6D76E9, 11);
  Rmd160Step<RmdF2>(dd, ee, aa, bb, cc, x[3] + 0x7A6D76E9, 14);
  Rmd160Step<RmdF2>(cc, dd, ee, aa, bb, x[11] + 0x7A6D76E9, 14);
  Rmd160Step<RmdF2>(bb, cc, dd, ee, aa, x[15] + 0x7A6D76E9, 6);
  Rmd160Step<RmdF2>(aa, bb, cc, dd, ee, x[0] + 0x7A6D76E9, 14);
  Rmd160Step<RmdF2>(ee, aa, bb, cc, dd, x[5] + 0x7A6D76E9, 6);
  Rmd160Step<RmdF2>(dd, ee, aa, bb, cc, x[12] + 0x7A6D76E9, 9);
  Rmd160Step<RmdF2>(cc, dd, ee, aa, bb, x[2] + 0x7A6D76E9, 12);
  Rmd160Step<RmdF2>(bb, cc, dd, ee, aa, x[13] + 0x7A6D76E9, 9);
  Rmd160Step<RmdF2>(aa, bb, cc, dd, ee, x[9] + 0x7A6D76E9, 12);
  Rmd160Step<RmdF2>(ee, aa, bb, cc, dd, x[7] + 0x7A6D76E9, 5);
  Rmd160Step<RmdF2>(dd, ee, aa, bb, cc, x[10] + 0x7A6D76E9, 15);
  Rmd160Step<RmdF2>(cc, dd, ee, aa, bb, x[14] + 0x7A6D76E9, 8);
  if constexpr (Exchange) std::swap(d, dd);

  // Round 5
  Rmd160Step<RmdF5>(b, c, d, e, a, x[4] + 0xA953FD4E, 9);
  Rmd160Step<RmdF5>(a, b, c, d, e, x[0] + 0xA953FD4E, 15);
  Rmd160Step<RmdF5>(e, a, b, c, d, x[5] + 0xA953FD4E, 5);
  Rmd160Step<RmdF5>(d, e, a, b, c, x[9] + 0xA953FD4E, 11);
  Rmd160Step<RmdF5>(c, d, e, a, b, x[7] + 0xA953FD4E, 6);
  Rmd160Step<RmdF5>(b, c, d, e, a, x[12] + 0xA953FD4E, 8);
  Rmd160Step<RmdF5>(a, b, c, d, e, x[2] + 0xA953FD4E, 13);
  Rmd160Step<RmdF5>(e, a, b, c, d, x[10] + 0xA953FD4E, 12);
  Rmd160Step<RmdF5>(d, e, a, b, c, x[14] + 0xA953FD4E, 5);
  Rmd160Step<RmdF5>(c, d, e, a, b, x[1] + 0xA953FD4E, 12);
  Rmd160Step<RmdF5>(b, c, d, e, a, x[3] + 0xA953FD4E, 13);
  Rmd160Step<RmdF5>(a, b, c, d, e, x[8] + 0xA953FD4E, 14);
  Rmd160Step<RmdF5>(e, a, b, c, d, x[11] + 0xA953FD4E, 11);
  Rmd160Step<RmdF5>(d, e, a, b, c, x[6] + 0xA953FD4E, 8);
  Rmd160Step<RmdF5>(c, d, e, a, b, x[15] + 0xA953FD4E, 5);
  Rmd160Step<RmdF5>(b, c, d, e, a, x[13] + 0xA953FD4E, 6);
  Rmd160Step<RmdF1>(bb, cc, dd, ee, aa, x[12], 8);
  Rmd160Step<RmdF1>(aa, bb, cc, dd, ee, x[15], 5);
  Rmd160Step<RmdF1>(ee, aa, bb, cc, dd, x[10], 12);
  Rmd160Step<RmdF1>(dd, ee, aa, bb, cc, x[4], 9);
  Rmd160Step<RmdF1>(cc, dd, ee, aa, bb, x[1], 12);
  Rmd160Step<RmdF1>(bb, cc, dd, ee, aa, x[5], 5);
  Rmd160Step<RmdF1>(aa, bb, cc, dd, ee, x[8], 14);
  Rmd160Step<RmdF1>(ee, aa, bb, cc, dd, x[7], 6);
  Rmd160Step<RmdF1>(dd, ee, aa, bb, cc, x[6], 8);
  Rmd160Step<RmdF1>(cc, dd, ee, aa, bb, x[2], 13);
  Rmd160Step<RmdF1>(bb, cc, dd, ee, aa, x[13], 6);
  Rmd160Step<RmdF1>(aa, bb, cc, dd, ee, x[14], 5);
  Rmd160Step<RmdF1>(ee, aa, bb, cc, dd, x[0], 15);
  Rmd160Step<RmdF1>(dd, ee, aa, bb, cc, x[3], 13);
  Rmd160Step<RmdF1>(cc, dd, ee, aa, bb, x[9], 11);
  Rmd160Step<RmdF1>(bb, cc, dd, ee, aa, x[11], 11);
  if constexpr (Exchange) std::swap(e, ee);
}

}  // namespace

THashClassRef THash_RipeMD128::Class() { return &kRipeMD128Class; }
THashClassRef THash_RipeMD160::Class() { return &kRipeMD160Class; }
THashClassRef THash_RipeMD256::Class() { return &kRipeMD256Class; }
THashClassRef THash_RipeMD320::Class() { return &kRipeMD320Class; }

void THash_RipeMD256::Init() { Reset(kRipeMD256InitialWords); }

void THash_RipeMD128::Transform(const uint8_t* block) {
  uint32_t x[16];
  LoadBlockLE(x, block);
  uint32_t a = Word(0), b = Word(1), c = Word(2), d = Word(3);
  uint32_t aa = a, bb = b, cc = c, dd = d;
  Lines128<false>(x, a, b, c, d, aa, bb, cc, dd);
  const uint32_t t = Word(1) + c + dd;
  SetWord(1, Word(2) + d + aa);
  SetWord(2, Word(3) + a + bb);
  SetWord(3, Word(0) + b + cc);
  SetWord(0, t);
}

void THash_RipeMD160::Transform(const uint8_t* block) {
  uint32_t x[16];
  LoadBlockLE(x, block);
  uint32_t a = Word(0), b = Word(1), c = Word(2), d = Word(3), e = Word(4);
  uint32_t aa = a, bb = b, cc = c, dd = d, ee = e;
  Lines160<false>(x, a, b, c, d, e, aa, bb, cc, dd, ee);
  const uint32_t t = Word(1) + c + dd;
  SetWord(1, Word(2) + d + ee);
  SetWord(2, Word(3) + e + aa);
  SetWord(3, Word(4) + a + bb);
  SetWord(4, Word(0) + b + cc);
  SetWord(0, t);
}

void THash_RipeMD256::Transform(const uint8_t* block) {
  uint32_t x[16];
  LoadBlockLE(x, block);
  uint32_t a = Word(0), b = Word(1), c = Word(2), d = Word(3);
  uint32_t aa = Word(4), bb = Word(5), cc = Word(6), dd = Word(7);
  Lines128<true>(x, a, b, c, d, aa, bb, cc, dd);
  AddToWords({a, b, c, d, aa, bb, cc, dd});
}

void THash_RipeMD320::Transform(const uint8_t* block) {
  uint32_t x[16];
  LoadBlockLE(x, block);
  uint32_t a = Word(0), b = Word(1), c = Word(2), d = Word(3), e = Word(4);
  uint32_t aa = Word(5), bb = Word(6), cc = Word(7), dd = Word(8), ee = Word(9);
  Lines160<true>(x, a, b, c, d, e, aa, bb, cc, dd, ee);
  AddToWords({a, b, c, d, e, aa, bb, cc, dd, ee});
}

}  // namespace kv::crypto
