// Q128: 16 rounds on four words over a public table Q of 1024 words, indexed
// by the low ten bits of a word.
#include <bit>

#include "crypto/ciphers.h"
#include "crypto/cryptutil.h"
#include "crypto/tables/q128.inc"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

constexpr int kRounds = 16;

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kTestVector[32] = {0x5E, 0x61, 0xEA, 0x92, 0x64, 0xB8, 0x35, 0xFF, 0x29, 0x72, 0x80, 0xDF, 0x0B,
                                     0x23, 0xAF, 0x9E, 0x6E, 0x7A, 0x98, 0x7E, 0x39, 0x8F, 0xFD, 0x49, 0x18, 0xE4,
                                     0x7C, 0x60, 0x9D, 0xF8, 0x96, 0x0D};

const TCipherClass kQ128Class{"TCipher_Q128", TCipher::Class, 16, 16, 16 * kRounds, kTestVector,
                              MakeCipherObject<TCipher_Q128>};

inline uint32_t Q(uint32_t x) { return kQ128Table[x & 0x3FF]; }

}  // namespace

TCipherClassRef TCipher_Q128::Class() { return &kQ128Class; }
const uint32_t* TCipher_Q128::Table() { return kQ128Table; }

void TCipher_Q128::EncodeBlock(void* block) {
  auto* b = static_cast<uint8_t*>(block);
  uint32_t w[4];
  LoadWordsLE(w, b, 4);
  const uint32_t* k = ScheduleAs<uint32_t>();
  for (int round = 0; round < kRounds; ++round, k += 4) {
    w[1] ^= Q(w[0]) + k[0];
    w[2] ^= Q(w[1]) + k[1];
    w[3] ^= Q(w[2]) + k[2];
    w[0] = std::rotl(w[0], 10) ^ (Q(w[3]) + k[3]);
    w[1] = std::rotl(w[1], 10);
    w[2] = std::rotl(w[2], 10);
    w[3] = std::rotl(w[3], 10);
  }
  StoreWordsLE(b, w, 4);
}

void TCipher_Q128::DecodeBlock(void* block) {
  auto* b = static_cast<uint8_t*>(block);
  uint32_t w[4];
  LoadWordsLE(w, b, 4);
  const uint32_t* k = ScheduleAs<uint32_t>() + 4 * kRounds;
  for (int round = 0; round < kRounds; ++round) {
    k -= 4;
    w[1] = std::rotr(w[1], 10);
    w[2] = std::rotr(w[2], 10);
    w[3] = std::rotr(w[3], 10);
    w[0] = std::rotr(w[0] ^ (Q(w[3]) + k[3]), 10);
    w[3] ^= Q(w[2]) + k[2];
    w[2] ^= Q(w[1]) + k[1];
    w[1] ^= Q(w[0]) + k[0];
  }
  StoreWordsLE(b, w, 4);
}

void TCipher_Q128::MakeKeySchedule(const uint8_t* key, int32_t length) {
  uint32_t x[4];
  LoadPaddedWordsLE(x, 4, key, length);
  uint32_t* roundKeys = ScheduleAs<uint32_t>();
  for (int step = 1; step <= 19; ++step) {
    const uint32_t t = std::rotr(x[0], 10);
    x[1] ^= Q(x[0]);
    x[2] ^= Q(x[1]);
    x[3] ^= Q(x[2]);
    x[0] = Q(x[3]) ^ t;
    x[1] = std::rotr(x[1], 10);
    x[2] = std::rotr(x[2], 10);
    x[3] = std::rotr(x[3], 10);
    if (step >= 4) {
      for (int i = 0; i < 4; ++i) roundKeys[4 * (step - 4) + i] = x[i];
    }
  }
  ZeroKeyMaterial(x, sizeof x);
}

}  // namespace kv::crypto
