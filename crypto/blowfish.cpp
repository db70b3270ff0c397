// Blowfish (1993): 16 rounds on two big-endian words, P-array and S-boxes
// from the hexadecimal digits of pi.
#include <cstring>

#include "crypto/ciphers.h"
#include "crypto/cryptutil.h"
#include "crypto/tables/pi.inc"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

constexpr int kRounds = 16;
constexpr int kPWords = kRounds + 2;
constexpr int kSWords = 4 * 256;

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kTestVector[32] = {0x94, 0x39, 0x24, 0x4D, 0xD8, 0xA5, 0x12, 0xF6, 0xB2, 0x57, 0x92, 0x1A, 0x50,
                                     0x33, 0xA7, 0xD2, 0xB7, 0x40, 0xBB, 0x0D, 0x88, 0x94, 0xC8, 0xC1, 0x65, 0xDF,
                                     0xF9, 0xD2, 0xCE, 0x52, 0x83, 0x65};

const TCipherClass kBlowfishClass{"TCipher_Blowfish", TCipher::Class, 8, 56, 4 * (kSWords + kPWords), kTestVector,
                                  MakeCipherObject<TCipher_Blowfish>};

// The schedule: the four S-boxes, then the P-array.
struct Schedule {
  uint32_t s[kSWords];
  uint32_t p[kPWords];
};
static_assert(sizeof(Schedule) == 4168);

inline uint32_t F(const uint32_t* s, uint32_t x) {
  return ((s[x >> 24] + s[256 + (x >> 16 & 0xFF)]) ^ s[512 + (x >> 8 & 0xFF)]) + s[768 + (x & 0xFF)];
}

template <uint32_t (*Swap)(uint32_t)>
void Encode(const Schedule& k, uint8_t* block) {
  uint32_t l = LoadBE32Using<Swap>(block) ^ k.p[0];
  uint32_t r = LoadBE32Using<Swap>(block + 4);
#pragma GCC unroll 8
  // The P word goes in first, off the path through F.
  for (int i = 1; i < kRounds; i += 2) {
    r = (r ^ k.p[i]) ^ F(k.s, l);
    l = (l ^ k.p[i + 1]) ^ F(k.s, r);
  }
  StoreBE32Using<Swap>(block, r ^ k.p[kRounds + 1]);
  StoreBE32Using<Swap>(block + 4, l);
}

template <uint32_t (*Swap)(uint32_t)>
void Decode(const Schedule& k, uint8_t* block) {
  uint32_t l = LoadBE32Using<Swap>(block) ^ k.p[kRounds + 1];
  uint32_t r = LoadBE32Using<Swap>(block + 4);
#pragma GCC unroll 8
  for (int i = kRounds; i > 1; i -= 2) {
    r = (r ^ k.p[i]) ^ F(k.s, l);
    l = (l ^ k.p[i - 1]) ^ F(k.s, r);
  }
  StoreBE32Using<Swap>(block, r ^ k.p[0]);
  StoreBE32Using<Swap>(block + 4, l);
}

using Routine = void (*)(const Schedule&, uint8_t*);
Routine g_encode = Encode<SwapBytes486>;
Routine g_decode = Decode<SwapBytes486>;

}  // namespace

TCipherClassRef TCipher_Blowfish::Class() { return &kBlowfishClass; }

void SelectBlowfishRoutines(int cpuType) {
  const bool hasByteSwap = cpuType >= 4;
  g_encode = hasByteSwap ? Encode<SwapBytes486> : Encode<SwapBytes386>;
  g_decode = hasByteSwap ? Decode<SwapBytes486> : Decode<SwapBytes386>;
}

void TCipher_Blowfish::EncodeBlock(void* block) {
  g_encode(*ScheduleAs<Schedule>(), static_cast<uint8_t*>(block));
}

void TCipher_Blowfish::DecodeBlock(void* block) {
  g_decode(*ScheduleAs<Schedule>(), static_cast<uint8_t*>(block));
}

void TCipher_Blowfish::MakeKeySchedule(const uint8_t* key, int32_t length) {
  // The key is taken cyclically; no key has no cycle.
  if (length <= 0) RefuseKeyLength(1);
  Schedule& k = *ScheduleAs<Schedule>();
  std::memcpy(k.p, kPiFractionWords, sizeof k.p);
  std::memcpy(k.s, kPiFractionWords + kPWords, sizeof k.s);
  int32_t at = 0;
  for (uint32_t& p : k.p) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
      word = word << 8 | key[at];
      at = (at + 1) % length;
    }
    p ^= word;
  }
  // A zero block encoded again and again; its words replace P, then the
  // S-boxes, in order.
  uint8_t block[8] = {};
  const auto nextPair = [&](uint32_t* out) {
    EncodeBlock(block);
    out[0] = LoadBE32(block);
    out[1] = LoadBE32(block + 4);
  };
  for (int i = 0; i < kPWords; i += 2) nextPair(k.p + i);
  for (int i = 0; i < kSWords; i += 2) nextPair(k.s + i);
  ZeroKeyMaterial(block, sizeof block);
}

}  // namespace kv::crypto
