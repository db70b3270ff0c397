// SCOP, a keystream generator used block-wise: each 128-byte block is 32
// little-endian words to which the keystream is added (encoding) or from
// which it is subtracted (decoding). The schedule holds the working state
// and a copy of it as Init left it, from which every coding run starts.
#include <cstring>

#include "crypto/ciphers.h"
#include "crypto/cryptutil.h"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

constexpr int kKeyBytes = 48;
constexpr int kStateWords = 388;

// What each class gives for CommonTestBlock (the rule is in docs/platform.md).
constexpr uint8_t kTestVector[32] = {0x70, 0x41, 0x9A, 0xCD, 0x04, 0xCC, 0x5C, 0x6E, 0x7F, 0x3E, 0xC2, 0xCE, 0xC7,
                                     0x94, 0xE6, 0xD6, 0x90, 0x67, 0xCD, 0x2F, 0xB8, 0x47, 0xD4, 0x7F, 0x52, 0xC1,
                                     0x71, 0x7D, 0xA4, 0x75, 0xBA, 0x3E};

const TCipherClass kSCOPClass{"TCipher_SCOP", TCipher::Class, 128, kKeyBytes, 8 * kStateWords, kTestVector,
                              MakeCipherObject<TCipher_SCOP>};

// The working state: word 0 the byte i, word 1 the byte j, word 2 a third
// byte, word 3 the value s, then V (V[i] reads word 4 + i for every byte i,
// so its upper half overlaps T) and T (256 words).
constexpr int kV = 4;
constexpr int kT = 132;

// The key generator: eight 16-bit values in the last 16 bytes of the
// extended key, whose other bytes are its coefficients.
class KeyGenerator {
 public:
  explicit KeyGenerator(uint8_t* extendedKey) : c_(extendedKey) {}

  // One step: four output words; the state moves on. The coefficients past
  // byte 31 are state bytes, read as they stood before the step.
  void Step(uint32_t (&out)[4]) {
    uint32_t w[4], u[4];
    LoadWordsLE(w, c_ + 32, 4);
    for (int n = 0; n < 4; ++n) {
      const int m = 8 * n;
      const uint32_t x = w[n] >> 16, y = w[n] & 0xFFFF;
      const uint32_t a = Polynomial(x, c_[m], c_[m + 1], c_[m + 2], c_[m + 3]);
      const uint32_t b = Polynomial(y, c_[m + 4], c_[m + 9], c_[m + 14], c_[m + 19]);
      out[n] = a << 16 | (b & 0xFFFF);
      u[n] = (a & 0xFFFF0000) | b >> 16;
    }
    const uint32_t next[4] = {u[0] >> 16 | u[3] << 16, u[0] << 16 | u[1] >> 16, u[1] << 16 | u[2] >> 16,
                              u[2] << 16 | u[3] >> 16};
    StoreWordsLE(c_ + 32, next, 4);
  }
  void Discard(int steps) {
    uint32_t out[4];
    while (steps-- > 0) Step(out);
    ZeroKeyMaterial(out, sizeof out);
  }

 private:
  // c4 x^4 + c3 x^3 + c2 x^2 + c1 x + 1, modulo 2^32.
  static uint32_t Polynomial(uint32_t x, uint32_t c4, uint32_t c3, uint32_t c2, uint32_t c1) {
    return (((c4 * x + c3) * x + c2) * x + c1) * x + 1;
  }

  uint8_t* c_;
};

template <bool Decoding>
void Crypt(uint32_t* state, uint8_t* block) {
  uint32_t i = state[0] & 0xFF, j = state[1] & 0xFF, s = state[3];
  const uint32_t* v = state + kV;
  uint32_t* t = state + kT;
  for (int w = 0; w < 32; ++w) {
    const uint32_t x = t[j];
    j = (j + s) & 0xFF;
    const uint32_t y = t[j];
    t[j] = v[i] + y;
    s = t[j];
    i = (i + 1) & 0xFF;
    j = (j + y) & 0xFF;
    uint8_t* word = block + 4 * w;
    StoreLE32(word, Decoding ? LoadLE32(word) - (x + y) : LoadLE32(word) + (x + y));
  }
}

}  // namespace

TCipherClassRef TCipher_SCOP::Class() { return &kSCOPClass; }

void TCipher_SCOP::EncodeBlock(void* block) { Crypt<false>(ScheduleAs<uint32_t>(), static_cast<uint8_t*>(block)); }
void TCipher_SCOP::DecodeBlock(void* block) { Crypt<true>(ScheduleAs<uint32_t>(), static_cast<uint8_t*>(block)); }

void TCipher_SCOP::MakeKeySchedule(const uint8_t* key, int32_t length) {
  // The extension reads the byte after the key; no key has none.
  if (length <= 0) RefuseKeyLength(1);
  // Zeroed first, so that a one-byte key extends from a defined zero.
  uint8_t c[kKeyBytes] = {};
  std::memcpy(c, key, static_cast<size_t>(length));
  for (int k = length; k < kKeyBytes; ++k) c[k] = static_cast<uint8_t>(c[k - length] + c[k - length + 1]);
  uint8_t next = 1;
  for (int k = 0; k < 32; ++k) {
    if (c[k] == 0) c[k] = next++;
  }

  uint32_t* state = ScheduleAs<uint32_t>();
  KeyGenerator generator(c);
  generator.Discard(8);
  uint32_t* fill = state + 3;
  uint32_t out[4];
  for (int group = 0; group < 12; ++group) {
    for (int step = 0; step < 8; ++step, fill += 4) {
      generator.Step(out);
      std::memcpy(fill, out, sizeof out);
    }
    generator.Discard(1);
  }
  generator.Step(out);
  const uint32_t w = out[3];
  state[3 + (w & 0x7F)] |= 1;
  state[0] = w >> 24;
  state[1] = w >> 16;
  state[2] = w >> 8;
  ZeroKeyMaterial(c, sizeof c);
  ZeroKeyMaterial(out, sizeof out);
}

void TCipher_SCOP::Init(const void* key, int32_t length, const void* vector, int32_t vectorLength) {
  TCipher::Init(key, length, vector, vectorLength);
  uint32_t* state = ScheduleAs<uint32_t>();
  std::memcpy(state + kStateWords, state, 4 * kStateWords);
}

void TCipher_SCOP::ResetFeedback() {
  TCipher::ResetFeedback();
  uint32_t* state = ScheduleAs<uint32_t>();
  std::memcpy(state, state + kStateWords, 4 * kStateWords);
}

}  // namespace kv::crypto
