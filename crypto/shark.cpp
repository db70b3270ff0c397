// SHARK (1996): 6 rounds over GF(2^8) modulo 0x1F5 on the block read as one
// little-endian 64-bit value, byte i being element i of the cipher's state.
// The schedule holds 7 encoding and 7 decoding round keys.
#include <array>
#include <cstring>

#include "crypto/ciphers.h"
#include "crypto/cryptutil.h"
#include "crypto/gf256.h"
#include "crypto/tables/sharksquare.inc"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

constexpr int kRounds = 6;
constexpr unsigned kPolynomial = 0x1F5;

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kTestVector[32] = {0x39, 0x5C, 0x02, 0x46, 0x3D, 0x06, 0xCB, 0xBC, 0xC7, 0x95, 0x5F, 0x23, 0xD5,
                                     0x13, 0x1B, 0xBE, 0xD2, 0xEC, 0xF6, 0xBE, 0xBE, 0x14, 0x69, 0xB0, 0xA0, 0x0A,
                                     0xC1, 0xC1, 0x79, 0x57, 0x8E, 0x76};

struct Schedule {
  uint64_t encode[kRounds + 1];
  uint64_t decode[kRounds + 1];
};
static_assert(sizeof(Schedule) == 112);

const TCipherClass kSharkClass{"TCipher_Shark", TCipher::Class, 8, 16, sizeof(Schedule), kTestVector,
                               MakeCipherObject<TCipher_Shark>};

using RoundTables = std::array<std::array<uint64_t, 256>, 8>;

// Table c at x: column c of the matrix times sbox[x], element r in byte r.
constexpr RoundTables MakeTables(const uint8_t (&matrix)[8][8], const uint8_t (&sbox)[256]) {
  RoundTables t{};
  for (int c = 0; c < 8; ++c) {
    for (int x = 0; x < 256; ++x) {
      for (int r = 0; r < 8; ++r)
        t[c][x] |= static_cast<uint64_t>(GfMultiply(matrix[r][c], sbox[x], kPolynomial)) << (8 * r);
    }
  }
  return t;
}

constexpr RoundTables kEncodeTables = MakeTables(kSharkG, kSharkSquareSBox);
constexpr RoundTables kDecodeTables = MakeTables(kSharkGInverse, kSharkSquareSBoxInverse);

inline uint8_t Element(uint64_t x, int i) { return static_cast<uint8_t>(x >> (8 * i)); }

inline uint64_t Round(const RoundTables& t, uint64_t x) {
  uint64_t out = 0;
  for (int i = 0; i < 8; ++i) out ^= t[i][Element(x, i)];
  return out;
}

inline uint64_t Substitute(const uint8_t (&sbox)[256], uint64_t x) {
  uint64_t out = 0;
  for (int i = 0; i < 8; ++i) out |= static_cast<uint64_t>(sbox[Element(x, i)]) << (8 * i);
  return out;
}

// The inverse of the mixing step alone.
uint64_t MixInverse(uint64_t x) {
  uint64_t out = 0;
  for (int r = 0; r < 8; ++r) {
    uint8_t v = 0;
    for (int c = 0; c < 8; ++c) v ^= GfMultiply(kSharkGInverse[r][c], Element(x, c), kPolynomial);
    out |= static_cast<uint64_t>(v) << (8 * r);
  }
  return out;
}

// Five mixing rounds, then one without mixing: the last key is stored
// through the inverse mixing, which the output step would undo.
uint64_t Crypt(const uint64_t* keys, const RoundTables& tables, const uint8_t (&sbox)[256], uint64_t x) {
  for (int r = 0; r < kRounds - 1; ++r) x = Round(tables, x ^ keys[r]);
  return Substitute(sbox, x ^ keys[kRounds - 1]) ^ keys[kRounds];
}

}  // namespace

TCipherClassRef TCipher_Shark::Class() { return &kSharkClass; }

void TCipher_Shark::EncodeBlock(void* block) {
  auto* b = static_cast<uint8_t*>(block);
  StoreLE64(b, Crypt(ScheduleAs<Schedule>()->encode, kEncodeTables, kSharkSquareSBox, LoadLE64(b)));
}

void TCipher_Shark::DecodeBlock(void* block) {
  auto* b = static_cast<uint8_t*>(block);
  StoreLE64(b, Crypt(ScheduleAs<Schedule>()->decode, kDecodeTables, kSharkSquareSBoxInverse, LoadLE64(b)));
}

void TCipher_Shark::MakeKeySchedule(const uint8_t* key, int32_t length) {
  Schedule& s = *ScheduleAs<Schedule>();
  // The cipher that makes the round keys: its keys are the first table's
  // first entries.
  uint64_t setupKeys[kRounds + 1];
  for (int r = 0; r < kRounds; ++r) setupKeys[r] = kEncodeTables[0][r];
  setupKeys[kRounds] = MixInverse(kEncodeTables[0][kRounds]);
  // The key, zero-padded to 16 bytes and repeated over the seven round keys,
  // encoded in 64-bit cipher feedback from a zero block.
  uint8_t padded[16] = {};
  std::memcpy(padded, key, static_cast<size_t>(length));
  uint64_t feedback = 0;
  for (int r = 0; r <= kRounds; ++r) {
    feedback = LoadLE64(padded + 8 * (r % 2)) ^ Crypt(setupKeys, kEncodeTables, kSharkSquareSBox, feedback);
    s.encode[r] = feedback;
  }
  s.encode[kRounds] = MixInverse(s.encode[kRounds]);
  s.decode[0] = s.encode[kRounds];
  for (int r = 1; r < kRounds; ++r) s.decode[r] = MixInverse(s.encode[kRounds - r]);
  s.decode[kRounds] = s.encode[0];
  ZeroKeyMaterial(padded, sizeof padded);
  ZeroKeyMaterial(&feedback, sizeof feedback);
}

}  // namespace kv::crypto
