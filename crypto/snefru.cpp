// Snefru (1990), 256-bit output: each pass runs four sub-rounds over the
// 16-word block (eight chaining words, then eight message words), each word
// xoring a look-up in the pass's S-boxes into its neighbours, then all words
// rotated by 16, 8, 16 and 24 bits.
#include <bit>
#include <cstring>

#include "crypto/blockfeed.h"
#include "crypto/digests.h"
#include "crypto/tables/snefru.inc"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

constexpr int kMaxPasses = 8;

// The digest of CommonTestBlock.
constexpr uint8_t kSnefruTestVector[32] = {0x55, 0x39, 0xF9, 0xC7, 0x4A, 0x5C, 0x60, 0x0A, 0xF8, 0x99, 0x20, 0x44,
                                           0x7A, 0x77, 0x91, 0xB3, 0x7E, 0x93, 0x04, 0x37, 0x5B, 0x71, 0x5B, 0xFA,
                                           0x0A, 0x88, 0xD6, 0xC7, 0x09, 0xCE, 0xF6, 0x64};

const THashClass kSnefruClass{"THash_Snefru", THash::Class, 32, kSnefruTestVector, MakeHashObject<THash_Snefru>};

constexpr int kShifts[4] = {16, 8, 16, 24};

}  // namespace

THashClassRef THash_Snefru::Class() { return &kSnefruClass; }

THash_Snefru::~THash_Snefru() {
  ZeroKeyMaterial(words_, sizeof words_);
  ZeroKeyMaterial(block_, sizeof block_);
}

void THash_Snefru::Init() {
  std::memset(block_, 0, sizeof block_);
  std::memset(words_, 0, sizeof words_);
  byteCount_ = 0;
  passes_ = kMaxPasses;
  ApplyProtection(true);
}

void THash_Snefru::Transform(const uint8_t* block) {
  uint32_t w[16];
  LoadWordsLE(w, words_, 8);
  LoadWordsLE(w + 8, block, 8);
  uint32_t input[8];
  std::memcpy(input, w, sizeof input);
  const int passes = passes_ >= 1 && passes_ <= kMaxPasses ? passes_ : kMaxPasses;
  for (int pass = 0; pass < passes; ++pass) {
    for (int shift : kShifts) {
      for (int i = 0; i < 16; ++i) {
        const uint32_t entry = kSnefruSBoxes[2 * pass + (i / 2 & 1)][w[i] & 0xFF];
        w[(i + 1) & 15] ^= entry;
        w[(i + 15) & 15] ^= entry;
      }
      for (uint32_t& word : w) word = std::rotr(word, shift);
    }
  }
  for (int i = 0; i < 8; ++i) input[i] ^= w[15 - i];
  StoreWordsLE(words_, input, 8);
}

void THash_Snefru::Update(const void* data, int32_t size) {
  FeedBlocks(block_, byteCount_, data, size, [this](const uint8_t* block) { Transform(block); });
}

void THash_Snefru::Finish() {
  const size_t used = byteCount_ % 32;
  std::memset(block_ + used, 0, sizeof block_ - used);
  if (used >= 24) {
    Transform(block_);
    std::memset(block_, 0, sizeof block_);
  }
  StoreLE64(block_ + 24, byteCount_ * 8);
  Transform(block_);
  std::memset(block_, 0, sizeof block_);
  ApplyProtection(false);
}

}  // namespace kv::crypto
