#pragma once
// Words read from and written to bytes in a fixed order, whatever the host's.
#include <cstdint>
#include <cstring>

namespace kv::crypto {

inline uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline uint32_t LoadBE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}

inline void StoreBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

inline uint16_t LoadBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

inline void StoreBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

inline uint64_t LoadLE64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadLE32(p)) | static_cast<uint64_t>(LoadLE32(p + 4)) << 32;
}

inline void StoreLE64(uint8_t* p, uint64_t v) {
  StoreLE32(p, static_cast<uint32_t>(v));
  StoreLE32(p + 4, static_cast<uint32_t>(v >> 32));
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
