// The SAFER family (K-40/64/128 and the strengthened SK schedules) on eight
// bytes. The schedule holds the exponent table, the logarithm table and the
// subkeys: 8 bytes for the output step, 16 per round.
#include <cstring>

#include "crypto/ciphers.h"
#include "crypto/cryptutil.h"
#include "crypto/tables/safer.inc"

namespace kv::crypto {

namespace {

constexpr int kMaxRounds = 13;

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kSAFERTestVector[32] = {0xC2, 0x7B, 0xD6, 0xB7, 0x58, 0x17, 0xD0, 0xE2, 0x8C, 0x58, 0x3C, 0xE7,
                                          0xF5, 0x65, 0x29, 0xF5, 0x1B, 0x83, 0xD3, 0x7D, 0x27, 0x2C, 0x83, 0x51,
                                          0x73, 0xC6, 0x6B, 0x53, 0x98, 0x6A, 0xCF, 0xE2};
constexpr uint8_t kSAFER_K40TestVector[32] = {0xE3, 0x26, 0xCD, 0x3E, 0x14, 0x19, 0x77, 0x65, 0x88, 0xD8, 0x2B, 0xE4,
                                              0xA2, 0xD0, 0x50, 0xE2, 0xF5, 0x01, 0x6D, 0xBB, 0x04, 0xC9, 0x75, 0x58,
                                              0xCD, 0xEC, 0xB0, 0xE3, 0xA1, 0x8C, 0x25, 0xD3};
constexpr uint8_t kSAFER_SK40TestVector[32] = {0x63, 0xD3, 0x2A, 0x1D, 0xBE, 0x3B, 0x66, 0xDC, 0x8E, 0x93, 0x47, 0xC4,
                                               0x9D, 0x80, 0x96, 0x7D, 0x88, 0x50, 0xC3, 0x58, 0xDA, 0x94, 0xB8, 0x4F,
                                               0x57, 0xF8, 0x77, 0x4D, 0x1A, 0xF6, 0x5F, 0x26};
constexpr uint8_t kSAFER_K64TestVector[32] = {0xE3, 0x6A, 0x9D, 0x1D, 0x17, 0x31, 0x7B, 0x1D, 0xD9, 0x2D, 0x49, 0xA6,
                                              0x4E, 0xB5, 0xDA, 0x36, 0xDC, 0xA2, 0x64, 0x6C, 0xD4, 0xAB, 0x0C, 0xA8,
                                              0x06, 0x7F, 0x08, 0xA5, 0x68, 0x12, 0xFB, 0xE3};
constexpr uint8_t kSAFER_SK64TestVector[32] = {0xB6, 0x11, 0x06, 0x63, 0xF1, 0xEA, 0xA4, 0xCD, 0xD0, 0x83, 0x8C, 0x62,
                                               0xBD, 0x87, 0x8B, 0xEE, 0xC4, 0xBF, 0x14, 0xE6, 0xB8, 0x1C, 0x93, 0xA4,
                                               0xA7, 0x0F, 0xE0, 0x1C, 0x2A, 0xDE, 0xB8, 0x19};
constexpr uint8_t kSAFER_K128TestVector[32] = {0x37, 0x43, 0xF4, 0xBF, 0x79, 0x73, 0x23, 0xE6, 0xDC, 0xFB, 0x94, 0xD9,
                                               0x60, 0x10, 0xDE, 0x95, 0x06, 0x06, 0x6C, 0x42, 0x27, 0xEC, 0xAE, 0x18,
                                               0xDE, 0x68, 0x1D, 0xD5, 0x6B, 0x0D, 0xCA, 0x58};
constexpr uint8_t kSAFER_SK128TestVector[32] = {0xC2, 0x7B, 0xD6, 0xB7, 0x58, 0x17, 0xD0, 0xE2, 0x8C, 0x58, 0x3C,
                                                0xE7, 0xF5, 0x65, 0x29, 0xF5, 0x1B, 0x83, 0xD3, 0x7D, 0x27, 0x2C,
                                                0x83, 0x51, 0x73, 0xC6, 0x6B, 0x53, 0x98, 0x6A, 0xCF, 0xE2};

#define KV_SAFER_CLASS(Name, Parent, Key)                                                    \
  const TCipherClass k##Name##Class{"TCipher_" #Name, Parent::Class, 8, Key, 768, k##Name##TestVector, \
                                    MakeCipherObject<TCipher_##Name>};
KV_SAFER_CLASS(SAFER, TCipher, 16)
KV_SAFER_CLASS(SAFER_K40, TCipher_SAFER, 5)
KV_SAFER_CLASS(SAFER_SK40, TCipher_SAFER_K40, 5)
KV_SAFER_CLASS(SAFER_K64, TCipher_SAFER, 8)
KV_SAFER_CLASS(SAFER_SK64, TCipher_SAFER_K64, 8)
KV_SAFER_CLASS(SAFER_K128, TCipher_SAFER, 16)
KV_SAFER_CLASS(SAFER_SK128, TCipher_SAFER_K128, 16)
#undef KV_SAFER_CLASS

struct Schedule {
  uint8_t exp[256];
  uint8_t log[256];
  uint8_t rounds;
  uint8_t keys[8 + 16 * kMaxRounds];
};
static_assert(sizeof(Schedule) <= 768);

inline uint8_t Rol8(uint8_t x, int n) { return static_cast<uint8_t>(x << n | x >> (8 - n)); }

// The pseudo-Hadamard transform and its inverse.
inline void Pht(uint8_t& x, uint8_t& y) {
  y = static_cast<uint8_t>(y + x);
  x = static_cast<uint8_t>(x + y);
}
inline void InversePht(uint8_t& x, uint8_t& y) {
  x = static_cast<uint8_t>(x - y);
  y = static_cast<uint8_t>(y - x);
}

// The key layers: xor, add, add, xor, xor, add, add, xor (and the inverse).
inline void MixKey(uint8_t* b, const uint8_t* k, bool invert) {
  for (int i = 0; i < 8; ++i) {
    const bool additive = i % 4 == 1 || i % 4 == 2;
    b[i] = additive ? static_cast<uint8_t>(invert ? b[i] - k[i] : b[i] + k[i]) : b[i] ^ k[i];
  }
}

void Encode(const Schedule& s, uint8_t* b) {
  const uint8_t* k = s.keys;
  for (int round = 0; round < s.rounds; ++round, k += 16) {
    MixKey(b, k, false);
    for (int i = 0; i < 8; ++i) {
      const bool exponent = i % 4 == 0 || i % 4 == 3;
      b[i] = exponent ? static_cast<uint8_t>(s.exp[b[i]] + k[8 + i]) : s.log[b[i]] ^ k[8 + i];
    }
    Pht(b[0], b[1]), Pht(b[2], b[3]), Pht(b[4], b[5]), Pht(b[6], b[7]);
    Pht(b[0], b[2]), Pht(b[4], b[6]), Pht(b[1], b[3]), Pht(b[5], b[7]);
    Pht(b[0], b[4]), Pht(b[1], b[5]), Pht(b[2], b[6]), Pht(b[3], b[7]);
    // The published shuffle: b, c, d, e, f and g take the places of c, e, g,
    // b, d and f.
    const uint8_t t = b[1];
    b[1] = b[4], b[4] = b[2], b[2] = t;
    const uint8_t u = b[3];
    b[3] = b[5], b[5] = b[6], b[6] = u;
  }
  MixKey(b, k, false);
}

void Decode(const Schedule& s, uint8_t* b) {
  const uint8_t* k = s.keys + 16 * s.rounds;
  MixKey(b, k, true);
  for (int round = 0; round < s.rounds; ++round) {
    k -= 16;
    const uint8_t t = b[2];
    b[2] = b[4], b[4] = b[1], b[1] = t;
    const uint8_t u = b[6];
    b[6] = b[5], b[5] = b[3], b[3] = u;
    InversePht(b[0], b[4]), InversePht(b[1], b[5]), InversePht(b[2], b[6]), InversePht(b[3], b[7]);
    InversePht(b[0], b[2]), InversePht(b[4], b[6]), InversePht(b[1], b[3]), InversePht(b[5], b[7]);
    InversePht(b[0], b[1]), InversePht(b[2], b[3]), InversePht(b[4], b[5]), InversePht(b[6], b[7]);
    for (int i = 0; i < 8; ++i) {
      const bool exponent = i % 4 == 0 || i % 4 == 3;
      b[i] = exponent ? s.log[static_cast<uint8_t>(b[i] - k[8 + i])] : s.exp[b[i] ^ k[8 + i]];
    }
    MixKey(b, k, true);
  }
}

bool Is40Bit(uint8_t variant) { return variant % 4 == 1; }

int DefaultRounds(uint8_t variant) {
  switch (variant % 4) {
    case 1:
      return 5;
    case 2:
      return 6;
    case 3:
      return 10;
    default:
      return 8;
  }
}

}  // namespace

TCipherClassRef TCipher_SAFER::Class() { return &kSAFERClass; }
TCipherClassRef TCipher_SAFER_K40::Class() { return &kSAFER_K40Class; }
TCipherClassRef TCipher_SAFER_SK40::Class() { return &kSAFER_SK40Class; }
TCipherClassRef TCipher_SAFER_K64::Class() { return &kSAFER_K64Class; }
TCipherClassRef TCipher_SAFER_SK64::Class() { return &kSAFER_SK64Class; }
TCipherClassRef TCipher_SAFER_K128::Class() { return &kSAFER_K128Class; }
TCipherClassRef TCipher_SAFER_SK128::Class() { return &kSAFER_SK128Class; }

void TCipher_SAFER::EncodeBlock(void* block) { Encode(*ScheduleAs<Schedule>(), static_cast<uint8_t*>(block)); }
void TCipher_SAFER::DecodeBlock(void* block) { Decode(*ScheduleAs<Schedule>(), static_cast<uint8_t*>(block)); }

void TCipher_SAFER::MakeKeySchedule(const uint8_t* key, int32_t length) {
  variant_ = ClassVariant();
  if (variant_ % 4 == 0) variant_ = static_cast<uint8_t>(variant_ + (length <= 5 ? 1 : length <= 8 ? 2 : 3));
  if (rounds_ < 4 || rounds_ > kMaxRounds) rounds_ = DefaultRounds(variant_);
  const bool strengthened = variant_ >= 4;

  Schedule& s = *ScheduleAs<Schedule>();
  std::memcpy(s.exp, kSaferExp, 256);
  std::memcpy(s.log, kSaferLog, 256);
  s.rounds = static_cast<uint8_t>(rounds_);

  // The two key registers of nine bytes each; the ninth is the parity.
  uint8_t work[18] = {};
  uint8_t* a = work;
  uint8_t* b = work + 9;
  std::memcpy(a, key, static_cast<size_t>(length < 8 ? length : 8));
  if (Is40Bit(variant_)) {
    a[5] = a[0] ^ a[2] ^ 0x81;
    a[6] = a[0] ^ a[3] ^ a[4] ^ 0x42;
    a[7] = a[1] ^ a[2] ^ a[4] ^ 0x24;
    a[8] = a[1] ^ a[3] ^ 0x18;
    std::memcpy(b, a, 9);
  } else {
    if (length <= 8)
      std::memcpy(b, a, 8);
    else
      std::memcpy(b, key + 8, static_cast<size_t>(length - 8));
    for (int j = 0; j < 8; ++j) a[8] ^= a[j], b[8] ^= b[j];
  }
  uint8_t* out = s.keys;
  std::memcpy(out, b, 8);
  out += 8;
  for (int j = 0; j < 9; ++j) a[j] = Rol8(a[j], 5);
  for (int i = 1; i <= rounds_; ++i) {
    for (uint8_t& byte : work) byte = Rol8(byte, 6);
    for (int j = 0; j < 8; ++j)
      *out++ = static_cast<uint8_t>(a[strengthened ? (j + 2 * i - 1) % 9 : j] + s.exp[s.exp[18 * i + j + 1]]);
    for (int j = 0; j < 8; ++j)
      *out++ = static_cast<uint8_t>(b[strengthened ? (j + 2 * i) % 9 : j] + s.exp[s.exp[18 * i + j + 10]]);
  }
  ZeroKeyMaterial(work, sizeof work);
}

}  // namespace kv::crypto
