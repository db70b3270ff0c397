#pragma once
// The step functions of the MD4-family compressions and the byte order of
// their words. Each Transform calls them once per step, with that step's
// word, constant and rotation written out at the call.
#include <bit>
#include <cstdint>

#include "crypto/wordorder.h"

namespace kv::crypto {

inline void LoadBlockLE(uint32_t (&x)[16], const uint8_t* block) { LoadWordsLE(x, block, 16); }

using StepFunction = uint32_t (*)(uint32_t, uint32_t, uint32_t);

// MD4 (RFC 1320).
inline uint32_t Md4F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t Md4G(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (z & (x | y)); }
inline uint32_t Md4H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
template <StepFunction F>
inline void Md4Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s) {
  a = std::rotl(a + x + F(b, c, d), s);
}

// MD5 (RFC 1321).
inline uint32_t Md5F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t Md5G(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t Md5H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t Md5I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }
template <StepFunction F>
inline void Md5Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s) {
  a = b + std::rotl(a + x + F(b, c, d), s);
}

// RIPEMD: the left line uses f1 to f5 (f1 to f4 for the 128-bit widths) in
// round order, the right line the same functions backwards.
inline uint32_t RmdF1(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t RmdF2(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t RmdF3(uint32_t x, uint32_t y, uint32_t z) { return (x | ~y) ^ z; }
inline uint32_t RmdF4(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t RmdF5(uint32_t x, uint32_t y, uint32_t z) { return x ^ (y | ~z); }
template <StepFunction F>
inline void Rmd128Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s) {
  a = std::rotl(a + x + F(b, c, d), s);
}
template <StepFunction F>
inline void Rmd160Step(uint32_t& a, uint32_t b, uint32_t& c, uint32_t d, uint32_t e, uint32_t x, int s) {
  a = std::rotl(a + x + F(b, c, d), s) + e;
  c = std::rotl(c, 10);
}

// SHA and SHA-1.
inline uint32_t ShaCh(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t ShaParity(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t ShaMaj(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (z & (x | y)); }
template <StepFunction F>
inline void ShaStep(uint32_t a, uint32_t& b, uint32_t c, uint32_t d, uint32_t& e, uint32_t w) {
  e = e + w + F(b, c, d) + std::rotl(a, 5);
  b = std::rotl(b, 30);
}

}  // namespace kv::crypto
