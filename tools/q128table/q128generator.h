#pragma once
// Q128's table Q by its designer's published procedure (sci.crypt, December
// 1996), on our own Blowfish keyed with the lower-case alphabet:
//  1. Q[i] = i; for k = 0 .. 999999 the block (0, k) is encoded and Q[k mod
//     1024] changes places with Q[right word mod 1024];
//  2. rows 2k and 2k + 1 of a 32x32 bit matrix M are the words of the
//     encoded block (0, b + k), k = 0 .. 15, for b = 0, 16, 32, ... until M
//     is non-singular over GF(2);
//  3. bit r of the final Q[i] is the parity of Q[i] and M[r].
#include <array>
#include <bit>
#include <cstdint>
#include <string_view>

#include "crypto/ciphers.h"
#include "crypto/wordorder.h"

namespace kv::tools {

using Q128Table = std::array<uint32_t, 1024>;

namespace q128 {

// Blowfish's block of two big-endian words.
inline std::array<uint32_t, 2> Encode(crypto::TCipher_Blowfish& blowfish, uint32_t left, uint32_t right) {
  uint8_t block[8];
  crypto::StoreBE32(block, left);
  crypto::StoreBE32(block + 4, right);
  blowfish.EncodeBlock(block);
  return {crypto::LoadBE32(block), crypto::LoadBE32(block + 4)};
}

inline bool NonSingular(std::array<uint32_t, 32> rows) {
  for (int bit = 0; bit < 32; ++bit) {
    const uint32_t mask = 1u << bit;
    int pivot = bit;
    while (pivot < 32 && !(rows[pivot] & mask)) ++pivot;
    if (pivot == 32) return false;
    std::swap(rows[bit], rows[pivot]);
    for (int r = 0; r < 32; ++r) {
      if (r != bit && (rows[r] & mask)) rows[r] ^= rows[bit];
    }
  }
  return true;
}

}  // namespace q128

inline Q128Table MakeQ128Table() {
  constexpr std::string_view kKey = "abcdefghijklmnopqrstuvwxyz";
  crypto::TCipher_Blowfish blowfish;
  blowfish.Init(kKey.data(), static_cast<int32_t>(kKey.size()));
  Q128Table q;
  for (uint32_t i = 0; i < q.size(); ++i) q[i] = i;
  for (uint32_t k = 0; k < 1000000; ++k) std::swap(q[k % 1024], q[q128::Encode(blowfish, 0, k)[1] % 1024]);
  std::array<uint32_t, 32> m{};
  for (uint32_t b = 0;; b += 16) {
    for (uint32_t k = 0; k < 16; ++k) {
      const auto words = q128::Encode(blowfish, 0, b + k);
      m[2 * k] = words[0];
      m[2 * k + 1] = words[1];
    }
    if (q128::NonSingular(m)) break;
  }
  for (uint32_t& word : q) {
    uint32_t mixed = 0;
    for (int r = 0; r < 32; ++r) mixed |= static_cast<uint32_t>(std::popcount(word & m[r]) & 1) << r;
    word = mixed;
  }
  return q;
}

}  // namespace kv::tools
