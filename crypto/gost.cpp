// GOST 28147-89: 32 rounds on two words with eight key words, S-boxes of the
// test parameter set.
#include <array>
#include <bit>

#include "crypto/ciphers.h"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kTestVector[32] = {0x1C, 0x7C, 0x1F, 0x7D, 0x3F, 0x7B, 0x79, 0xE8, 0x35, 0x0B, 0x6F, 0x9B, 0x4A,
                                     0x80, 0x4B, 0x71, 0xBA, 0x25, 0x01, 0x47, 0xD3, 0xB4, 0xDE, 0x50, 0xB0, 0x6F,
                                     0x0F, 0x5A, 0xD0, 0xF6, 0x4A, 0xC6};

const TCipherClass kGostClass{"TCipher_Gost", TCipher::Class, 8, 32, 32, kTestVector, MakeCipherObject<TCipher_Gost>};

// S-box 1 takes the lowest four bits of the sum, S-box 8 the highest.
constexpr uint8_t kSBoxes[8][16] = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};

// Per input byte, its two S-boxes with the rotation by 11 applied.
constexpr auto kTables = [] {
  std::array<std::array<uint32_t, 256>, 4> t{};
  for (int b = 0; b < 4; ++b) {
    for (uint32_t x = 0; x < 256; ++x) {
      const uint32_t out = kSBoxes[2 * b][x & 15] | kSBoxes[2 * b + 1][x >> 4] << 4;
      t[b][x] = std::rotl(out << (8 * b), 11);
    }
  }
  return t;
}();

inline uint32_t F(uint32_t x) {
  return kTables[0][x & 0xFF] ^ kTables[1][x >> 8 & 0xFF] ^ kTables[2][x >> 16 & 0xFF] ^ kTables[3][x >> 24];
}

// The 32 key words of the rounds in order: K0..K7 three times, then K7..K0.
constexpr std::array<uint8_t, 32> kKeyOrder = [] {
  std::array<uint8_t, 32> order{};
  for (int i = 0; i < 32; ++i) order[i] = static_cast<uint8_t>(i < 24 ? i % 8 : 31 - i);
  return order;
}();

template <bool Decoding>
void Rounds(const uint32_t* k, uint8_t* block) {
  uint32_t n1 = LoadLE32(block), n2 = LoadLE32(block + 4);
  for (int i = 0; i < 32; i += 2) {
    const int a = Decoding ? 31 - i : i;
    const int b = Decoding ? 30 - i : i + 1;
    n2 ^= F(n1 + k[kKeyOrder[a]]);
    n1 ^= F(n2 + k[kKeyOrder[b]]);
  }
  StoreLE32(block, n2);
  StoreLE32(block + 4, n1);
}

}  // namespace

TCipherClassRef TCipher_Gost::Class() { return &kGostClass; }

void TCipher_Gost::EncodeBlock(void* block) { Rounds<false>(ScheduleAs<uint32_t>(), static_cast<uint8_t*>(block)); }
void TCipher_Gost::DecodeBlock(void* block) { Rounds<true>(ScheduleAs<uint32_t>(), static_cast<uint8_t*>(block)); }

void TCipher_Gost::MakeKeySchedule(const uint8_t* key, int32_t length) {
  LoadPaddedWordsLE(ScheduleAs<uint32_t>(), 8, key, length);
}

}  // namespace kv::crypto
