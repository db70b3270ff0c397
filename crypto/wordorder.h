#pragma once
// Words read from and written to bytes in a fixed order, whatever the host's.
// One load or store each (through memcpy, which compilers turn into one
// instruction), so the block routines spend no time assembling bytes.
#include <bit>
#include <cstdint>
#include <cstring>

namespace kv::crypto {

inline uint32_t LoadLE32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return std::endian::native == std::endian::little ? v : __builtin_bswap32(v);
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
  if constexpr (std::endian::native != std::endian::little) v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}

inline uint32_t LoadBE32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return std::endian::native == std::endian::big ? v : __builtin_bswap32(v);
}

inline void StoreBE32(uint8_t* p, uint32_t v) {
  if constexpr (std::endian::native != std::endian::big) v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}

// The same through a given form of the byte swap, for the routines that come
// in two forms (see SwapBytes).
template <uint32_t (*Swap)(uint32_t)>
inline uint32_t LoadBE32Using(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return std::endian::native == std::endian::little ? Swap(v) : v;
}

template <uint32_t (*Swap)(uint32_t)>
inline void StoreBE32Using(uint8_t* p, uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) v = Swap(v);
  std::memcpy(p, &v, 4);
}

inline uint16_t LoadBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

inline void StoreBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

inline uint64_t LoadLE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return std::endian::native == std::endian::little ? v : __builtin_bswap64(v);
}

inline void StoreLE64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native != std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

// count little-endian words from bytes, and back.
inline void LoadWordsLE(uint32_t* words, const uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) words[i] = LoadLE32(bytes + 4 * i);
}
inline void StoreWordsLE(uint8_t* bytes, const uint32_t* words, int count) {
  for (int i = 0; i < count; ++i) StoreLE32(bytes + 4 * i, words[i]);
}

// count little-endian words from the first length bytes of key, the bytes
// beyond them taken as zero.
inline void LoadPaddedWordsLE(uint32_t* words, int count, const uint8_t* key, int32_t length) {
  for (int i = 0; i < count; ++i) {
    uint32_t word = 0;
    for (int b = 3; b >= 0; --b) word = word << 8 | (4 * i + b < length ? key[4 * i + b] : 0u);
    words[i] = word;
  }
}

}  // namespace kv::crypto
