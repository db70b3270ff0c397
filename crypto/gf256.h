#pragma once
// Multiplication in GF(2^8) modulo a polynomial of degree 8, for the ciphers
// that mix bytes that way (Twofish, SHARK, Square).
#include <cstdint>

namespace kv::crypto {

constexpr uint8_t GfMultiply(uint8_t a, uint8_t b, unsigned polynomial) {
  unsigned product = 0, x = a;
  for (; b; b >>= 1) {
    if (b & 1) product ^= x;
    x <<= 1;
    if (x & 0x100) x ^= polynomial;
  }
  return static_cast<uint8_t>(product);
}

}  // namespace kv::crypto
