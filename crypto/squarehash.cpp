// A digest on the Square cipher, Matyas-Meyer-Oseas style: the chaining
// words key the cipher, the 16-byte block is encoded, and the new chaining
// words are the encoded words xor the message words.
#include <cstring>

#include "crypto/blockfeed.h"
#include "crypto/digests.h"
#include "crypto/squarecore.h"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

// The digest of CommonTestBlock.
constexpr uint8_t kSquareTestVector[16] = {0x06, 0x0D, 0xE4, 0xC7, 0x73, 0xB1, 0x53, 0xEB, 0x32, 0x99, 0x1D, 0xE3,
                                           0xBB, 0xE5, 0xCD, 0xDF};

const THashClass kSquareClass{"THash_Square", THash::Class, 16, kSquareTestVector, MakeHashObject<THash_Square>};

constexpr uint32_t kInitialWords[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};

}  // namespace

THashClassRef THash_Square::Class() { return &kSquareClass; }

THash_Square::~THash_Square() {
  ZeroKeyMaterial(words_, sizeof words_);
  ZeroKeyMaterial(block_, sizeof block_);
}

void THash_Square::Init() {
  std::memset(block_, 0, sizeof block_);
  StoreWordsLE(words_, kInitialWords, 4);
  byteCount_ = 0;
  ApplyProtection(true);
}

void THash_Square::Transform(const uint8_t* block) {
  uint32_t key[4], message[4], encoded[4];
  LoadWordsLE(key, words_, 4);
  LoadWordsLE(message, block, 4);
  std::memcpy(encoded, message, sizeof encoded);
  square::RoundKeys keys;
  square::MakeEncodeKeys(key, keys);
  square::Encode(keys, encoded);
  for (int i = 0; i < 4; ++i) encoded[i] ^= message[i];
  StoreWordsLE(words_, encoded, 4);
}

void THash_Square::Update(const void* data, int32_t size) {
  FeedBlocks(block_, byteCount_, data, size, [this](const uint8_t* block) { Transform(block); });
}

void THash_Square::Finish() {
  size_t at = byteCount_ % 16;
  block_[at++] = 0x80;
  std::memset(block_ + at, 0, sizeof block_ - at);
  if (at > 8) {
    Transform(block_);
    std::memset(block_, 0, sizeof block_);
  }
  StoreLE64(block_ + 8, byteCount_ * 8);
  Transform(block_);
  std::memset(block_, 0, sizeof block_);
  ApplyProtection(false);
}

}  // namespace kv::crypto
