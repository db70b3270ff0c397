// Square (1997): 8 rounds of theta (each row times c(x) = 2 + x + x^2 + 3x^3
// modulo x^4 + 1 over GF(2^8) modulo 0x1F5), the S-box, transposition and
// key addition. The class's schedule holds the 9 encoding round keys, then
// the 9 decoding ones.
#include <array>
#include <bit>
#include <cstring>

#include "crypto/ciphers.h"
#include "crypto/cryptutil.h"
#include "crypto/gf256.h"
#include "crypto/squarecore.h"
#include "crypto/tables/sharksquare.inc"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace square {

namespace {

constexpr unsigned kPolynomial = 0x1F5;

// A row through the circulant matrix of the coefficients.
constexpr uint32_t MixRow(const uint8_t (&coefficients)[4], uint32_t row) {
  uint32_t out = 0;
  for (int k = 0; k < 4; ++k) {
    uint8_t v = 0;
    for (int j = 0; j < 4; ++j)
      v ^= GfMultiply(coefficients[(k - j + 4) % 4], static_cast<uint8_t>(row >> (8 * j)), kPolynomial);
    out |= static_cast<uint32_t>(v) << (8 * k);
  }
  return out;
}

using RoundTables = std::array<std::array<uint32_t, 256>, 4>;

// Table j at x: sbox[x] as element j of a row, through the mixing.
constexpr RoundTables MakeTables(const uint8_t (&coefficients)[4], const uint8_t (&sbox)[256]) {
  RoundTables t{};
  for (int j = 0; j < 4; ++j) {
    for (int x = 0; x < 256; ++x) t[j][x] = MixRow(coefficients, static_cast<uint32_t>(sbox[x]) << (8 * j));
  }
  return t;
}

constexpr RoundTables kEncodeTables = MakeTables(kSquareTheta, kSharkSquareSBox);
constexpr RoundTables kDecodeTables = MakeTables(kSquareThetaInverse, kSharkSquareSBoxInverse);

inline uint32_t Element(uint32_t row, int i) { return row >> (8 * i) & 0xFF; }

// Row i of the next state is made of column i of this one: element i of
// every row, through the tables (or, in the last round, the S-box alone).
template <bool Decoding>
void Rounds(const RoundKeys& keys, uint32_t (&b)[4]) {
  const RoundTables& t = Decoding ? kDecodeTables : kEncodeTables;
  const uint8_t(&sbox)[256] = Decoding ? kSharkSquareSBoxInverse : kSharkSquareSBox;
  uint32_t b0 = b[0] ^ keys[0][0], b1 = b[1] ^ keys[0][1], b2 = b[2] ^ keys[0][2], b3 = b[3] ^ keys[0][3];
  const auto column = [&](int i) {
    return t[0][Element(b0, i)] ^ t[1][Element(b1, i)] ^ t[2][Element(b2, i)] ^ t[3][Element(b3, i)];
  };
#pragma GCC unroll 7
  for (int r = 1; r < kRounds; ++r) {
    const uint32_t n0 = column(0) ^ keys[r][0], n1 = column(1) ^ keys[r][1], n2 = column(2) ^ keys[r][2],
                   n3 = column(3) ^ keys[r][3];
    b0 = n0, b1 = n1, b2 = n2, b3 = n3;
  }
  const auto last = [&](int i) {
    return sbox[Element(b0, i)] | sbox[Element(b1, i)] << 8 | sbox[Element(b2, i)] << 16 |
           static_cast<uint32_t>(sbox[Element(b3, i)]) << 24;
  };
  const uint32_t n0 = last(0), n1 = last(1), n2 = last(2), n3 = last(3);
  for (int i = 0; i < 4; ++i) b[i] = (i == 0 ? n0 : i == 1 ? n1 : i == 2 ? n2 : n3) ^ keys[kRounds][i];
}

}  // namespace

void MakeEncodeKeys(const uint32_t (&key)[4], RoundKeys& encode, RoundKeys* raw) {
  std::memcpy(encode[0], key, sizeof key);
  for (int t = 1; t <= kRounds; ++t) {
    const uint32_t* previous = encode[t - 1];
    uint32_t* k = encode[t];
    k[0] = previous[0] ^ std::rotr(previous[3], 8) ^ (1u << (t - 1));
    k[1] = previous[1] ^ k[0];
    k[2] = previous[2] ^ k[1];
    k[3] = previous[3] ^ k[2];
  }
  if (raw) std::memcpy(*raw, encode, sizeof encode);
  for (int t = 0; t < kRounds; ++t) {
    for (uint32_t& row : encode[t]) row = MixRow(kSquareTheta, row);
  }
}

void Encode(const RoundKeys& keys, uint32_t (&block)[4]) { Rounds<false>(keys, block); }
void Decode(const RoundKeys& keys, uint32_t (&block)[4]) { Rounds<true>(keys, block); }

}  // namespace square

namespace {

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kTestVector[32] = {0xDC, 0xB7, 0xF3, 0x79, 0x78, 0x7B, 0xE4, 0x39, 0x5A, 0xCF, 0xB7, 0xEB, 0x7D,
                                     0x00, 0x47, 0xFE, 0xEF, 0x62, 0xFF, 0xF1, 0x8F, 0x5B, 0x41, 0xC3, 0xD7, 0xE2,
                                     0x0A, 0x4C, 0xA3, 0x38, 0x71, 0xC2};

struct Schedule {
  square::RoundKeys encode;
  square::RoundKeys decode;
};
static_assert(sizeof(Schedule) == 288);

const TCipherClass kSquareClass{"TCipher_Square", TCipher::Class, 16, 16, sizeof(Schedule), kTestVector,
                                MakeCipherObject<TCipher_Square>};

}  // namespace

TCipherClassRef TCipher_Square::Class() { return &kSquareClass; }

void TCipher_Square::EncodeBlock(void* block) {
  auto* b = static_cast<uint8_t*>(block);
  uint32_t words[4];
  LoadWordsLE(words, b, 4);
  square::Encode(ScheduleAs<Schedule>()->encode, words);
  StoreWordsLE(b, words, 4);
}

void TCipher_Square::DecodeBlock(void* block) {
  auto* b = static_cast<uint8_t*>(block);
  uint32_t words[4];
  LoadWordsLE(words, b, 4);
  square::Decode(ScheduleAs<Schedule>()->decode, words);
  StoreWordsLE(b, words, 4);
}

void TCipher_Square::MakeKeySchedule(const uint8_t* key, int32_t length) {
  Schedule& s = *ScheduleAs<Schedule>();
  uint32_t words[4];
  LoadPaddedWordsLE(words, 4, key, length);
  square::RoundKeys raw;
  square::MakeEncodeKeys(words, s.encode, &raw);
  std::memcpy(s.decode[0], raw[square::kRounds], sizeof raw[0]);
  for (int r = 1; r < square::kRounds; ++r) std::memcpy(s.decode[r], raw[square::kRounds - r], sizeof raw[0]);
  std::memcpy(s.decode[square::kRounds], s.encode[0], sizeof raw[0]);
  ZeroKeyMaterial(raw, sizeof raw);
  ZeroKeyMaterial(words, sizeof words);
}

}  // namespace kv::crypto
