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
constexpr uint8_t kTestVector[32] = {};

#define KV_SAFER_CLASS(Name, Parent, Key)                                                    \
  const TCipherClass k##Name##Class{"TCipher_" #Name, Parent::Class, 8, Key, 768, kTestVector, \
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
