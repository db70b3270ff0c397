// 3-Way (1993): 11 rounds and an output step on three little-endian words.
// The schedule: the key, the 12 encoding constants, the decoding key (the
// key through the linear step, then the bit order reversed across the three
// words), the 12 decoding constants.
#include <algorithm>
#include <bit>

#include "crypto/ciphers.h"
#include "crypto/cryptutil.h"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

constexpr int kRounds = 11;

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kTestVector[32] = {0xAB, 0xEC, 0xB3, 0x25, 0xFC, 0x60, 0x79, 0xD8, 0xAE, 0x75, 0x19, 0xB9, 0x90,
                                     0x2E, 0xAE, 0xB5, 0xDA, 0x6F, 0x62, 0x78, 0xBC, 0x8A, 0x25, 0x4A, 0x86, 0x27,
                                     0x26, 0xAB, 0xA9, 0x1C, 0x1B, 0xD7};

const TCipherClass kThreeWayClass{"TCipher_3Way", TCipher::Class, 12, 12, 120, kTestVector,
                                  MakeCipherObject<TCipher_3Way>};

struct Schedule {
  uint32_t key[3];
  uint32_t encodeConstants[kRounds + 1];
  uint32_t decodeKey[3];
  uint32_t decodeConstants[kRounds + 1];
};
static_assert(sizeof(Schedule) == 120);

using Words = uint32_t[3];

// The linear step.
void Theta(Words& a) {
  const uint32_t a0 = a[0], a1 = a[1], a2 = a[2];
  a[0] = a0 ^ (a0 >> 16) ^ (a1 << 16) ^ (a1 >> 16) ^ (a2 << 16) ^ (a1 >> 24) ^ (a2 << 8) ^ (a2 >> 8) ^ (a0 << 24) ^
         (a2 >> 16) ^ (a0 << 16) ^ (a2 >> 24) ^ (a0 << 8);
  a[1] = a1 ^ (a1 >> 16) ^ (a2 << 16) ^ (a2 >> 16) ^ (a0 << 16) ^ (a2 >> 24) ^ (a0 << 8) ^ (a0 >> 8) ^ (a1 << 24) ^
         (a0 >> 16) ^ (a1 << 16) ^ (a0 >> 24) ^ (a1 << 8);
  a[2] = a2 ^ (a2 >> 16) ^ (a0 << 16) ^ (a0 >> 16) ^ (a1 << 16) ^ (a0 >> 24) ^ (a1 << 8) ^ (a1 >> 8) ^ (a2 << 24) ^
         (a1 >> 16) ^ (a2 << 16) ^ (a1 >> 24) ^ (a2 << 8);
}

// The 96 bits in reverse order.
void Mu(Words& a) {
  const uint32_t a0 = a[0];
  a[0] = ReverseBits(a[2]);
  a[1] = ReverseBits(a[1]);
  a[2] = ReverseBits(a0);
}

// The nonlinear step.
void Gamma(Words& a) {
  const uint32_t a0 = a[0], a1 = a[1], a2 = a[2];
  a[0] = a0 ^ (a1 | ~a2);
  a[1] = a1 ^ (a2 | ~a0);
  a[2] = a2 ^ (a0 | ~a1);
}

void Rho(Words& a) {
  Theta(a);
  a[0] = std::rotr(a[0], 10);
  a[2] = std::rotl(a[2], 1);
  Gamma(a);
  a[0] = std::rotl(a[0], 1);
  a[2] = std::rotr(a[2], 10);
}

void AddKey(Words& a, const uint32_t* key, uint32_t constant) {
  a[0] ^= key[0] ^ constant << 16;
  a[1] ^= key[1];
  a[2] ^= key[2] ^ constant;
}

void Rounds(Words& a, const uint32_t* key, const uint32_t* constants) {
  for (int i = 0; i < kRounds; ++i) {
    AddKey(a, key, constants[i]);
    Rho(a);
  }
  AddKey(a, key, constants[kRounds]);
  Theta(a);
}

// Each constant is the previous one doubled, reduced by 0x11011 when it
// outgrows 16 bits.
void MakeConstants(uint32_t* constants, uint32_t start) {
  for (int i = 0; i <= kRounds; ++i) {
    constants[i] = start;
    start <<= 1;
    if (start & 0x10000) start ^= 0x11011;
  }
}

}  // namespace

TCipherClassRef TCipher_3Way::Class() { return &kThreeWayClass; }

void TCipher_3Way::EncodeBlock(void* block) {
  const Schedule& k = *ScheduleAs<Schedule>();
  auto* b = static_cast<uint8_t*>(block);
  Words a;
  LoadWordsLE(a, b, 3);
  Rounds(a, k.key, k.encodeConstants);
  StoreWordsLE(b, a, 3);
}

void TCipher_3Way::DecodeBlock(void* block) {
  const Schedule& k = *ScheduleAs<Schedule>();
  auto* b = static_cast<uint8_t*>(block);
  Words a;
  LoadWordsLE(a, b, 3);
  Mu(a);
  Rounds(a, k.decodeKey, k.decodeConstants);
  Mu(a);
  StoreWordsLE(b, a, 3);
}

void TCipher_3Way::MakeKeySchedule(const uint8_t* key, int32_t length) {
  Schedule& k = *ScheduleAs<Schedule>();
  LoadPaddedWordsLE(k.key, 3, key, length);
  MakeConstants(k.encodeConstants, 0x0B0B);
  Words inverse = {k.key[0], k.key[1], k.key[2]};
  Theta(inverse);
  Mu(inverse);
  std::copy(inverse, inverse + 3, k.decodeKey);
  ZeroKeyMaterial(inverse, sizeof inverse);
  MakeConstants(k.decodeConstants, 0xB1B1);
}

}  // namespace kv::crypto
