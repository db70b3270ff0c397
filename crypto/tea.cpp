// TEA (1994) and its extension XTEA (1997) on two little-endian words with
// four little-endian key words.
#include "crypto/ciphers.h"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

constexpr uint32_t kDelta = 0x9E3779B9;

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kTEATestVector[32] = {0x9C, 0x90, 0xFC, 0x82, 0x70, 0xAF, 0xE7, 0x08, 0x87, 0x51, 0x50, 0xEE, 0xF0,
                                        0x9F, 0xB5, 0xB8, 0x67, 0x6F, 0x43, 0xAF, 0x7D, 0x78, 0xF4, 0x4D, 0x24, 0x71,
                                        0x91, 0xDC, 0x68, 0x10, 0x54, 0xA9};
constexpr uint8_t kTEANTestVector[32] = {0x87, 0x27, 0xCB, 0xDA, 0x76, 0x37, 0xA2, 0x18, 0x98, 0x40, 0x60, 0x4D, 0xEF,
                                         0x4B, 0x14, 0x1B, 0x91, 0x5D, 0x1A, 0x6C, 0x62, 0x63, 0x1F, 0x0E, 0x96, 0x72,
                                         0x0E, 0x3C, 0x91, 0x67, 0x1A, 0x3C};

const TCipherClass kTEAClass{"TCipher_TEA", TCipher::Class, 8, 16, 32, kTEATestVector, MakeCipherObject<TCipher_TEA>};
const TCipherClass kTEANClass{"TCipher_TEAN", TCipher_TEA::Class, 8, 16, 32, kTEANTestVector,
                              MakeCipherObject<TCipher_TEAN>};

// Applies f to the block's two words in place.
template <typename F>
void OnWords(void* block, F f) {
  auto* b = static_cast<uint8_t*>(block);
  uint32_t y = LoadLE32(b), z = LoadLE32(b + 4);
  f(y, z);
  StoreLE32(b, y);
  StoreLE32(b + 4, z);
}

}  // namespace

TCipherClassRef TCipher_TEA::Class() { return &kTEAClass; }
TCipherClassRef TCipher_TEAN::Class() { return &kTEANClass; }

// The schedule: the four key words, then the cycles Init settled (a later
// TeaCycles counts from the next Init on).
void TCipher_TEA::MakeKeySchedule(const uint8_t* key, int32_t length) {
  cycles_ = cycles_ < 16 ? 16 : cycles_ > 32 ? 32 : cycles_;
  uint32_t* schedule = ScheduleAs<uint32_t>();
  LoadPaddedWordsLE(schedule, 4, key, length);
  schedule[4] = static_cast<uint32_t>(cycles_);
}

void TCipher_TEA::EncodeBlock(void* block) {
  const uint32_t* k = Key();
  OnWords(block, [&](uint32_t& y, uint32_t& z) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < k[4]; ++i) {
      sum += kDelta;
      y += ((z << 4) + k[0]) ^ (z + sum) ^ ((z >> 5) + k[1]);
      z += ((y << 4) + k[2]) ^ (y + sum) ^ ((y >> 5) + k[3]);
    }
  });
}

void TCipher_TEA::DecodeBlock(void* block) {
  const uint32_t* k = Key();
  OnWords(block, [&](uint32_t& y, uint32_t& z) {
    uint32_t sum = kDelta * k[4];
    for (uint32_t i = 0; i < k[4]; ++i) {
      z -= ((y << 4) + k[2]) ^ (y + sum) ^ ((y >> 5) + k[3]);
      y -= ((z << 4) + k[0]) ^ (z + sum) ^ ((z >> 5) + k[1]);
      sum -= kDelta;
    }
  });
}

void TCipher_TEAN::EncodeBlock(void* block) {
  const uint32_t* k = Key();
  OnWords(block, [&](uint32_t& y, uint32_t& z) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < k[4]; ++i) {
      y += (((z << 4) ^ (z >> 5)) + z) ^ (sum + k[sum & 3]);
      sum += kDelta;
      z += (((y << 4) ^ (y >> 5)) + y) ^ (sum + k[sum >> 11 & 3]);
    }
  });
}

void TCipher_TEAN::DecodeBlock(void* block) {
  const uint32_t* k = Key();
  OnWords(block, [&](uint32_t& y, uint32_t& z) {
    uint32_t sum = kDelta * k[4];
    for (uint32_t i = 0; i < k[4]; ++i) {
      z -= (((y << 4) ^ (y >> 5)) + y) ^ (sum + k[sum >> 11 & 3]);
      sum -= kDelta;
      y -= (((z << 4) ^ (z >> 5)) + z) ^ (sum + k[sum & 3]);
    }
  });
}

}  // namespace kv::crypto
