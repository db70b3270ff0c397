// A digest on the Sapphire II stream cipher: every message byte is
// encrypted into the cipher's state; the finishing feeds in a run of bytes
// made from the digest size and a trailer with the length, and takes the
// digest from the cipher bytes of the trailer.
#include <cstring>

#include "crypto/digests.h"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

// The digests of CommonTestBlock.
constexpr uint8_t kSapphire128TestVector[16] = {0x47, 0xAE, 0x16, 0x13, 0xC9, 0x3A, 0x94, 0x2D, 0x26, 0x74, 0x8D,
                                                0x62, 0x43, 0x26, 0x88, 0xD8};
constexpr uint8_t kSapphire160TestVector[20] = {0x73, 0xD9, 0x1A, 0xCE, 0xB1, 0x75, 0xFD, 0x04, 0x90, 0x7A, 0x97,
                                                0x41, 0x3C, 0x20, 0x0F, 0x53, 0x2C, 0x22, 0xB3, 0x8C};
constexpr uint8_t kSapphire192TestVector[24] = {0x95, 0x41, 0x3F, 0xE0, 0x2B, 0x52, 0x7E, 0x50, 0xB5, 0xFF, 0x57,
                                                0xEB, 0x76, 0x3D, 0x32, 0x51, 0x29, 0xEB, 0x79, 0x6F, 0x4A, 0x64,
                                                0xFB, 0x17};
constexpr uint8_t kSapphire224TestVector[28] = {0x8F, 0x3E, 0xC5, 0x57, 0x92, 0x31, 0x6C, 0xDF, 0xCA, 0x40, 0x18,
                                                0x3A, 0x86, 0x08, 0x08, 0x99, 0x34, 0xFD, 0xEB, 0x21, 0xAB, 0xA4,
                                                0x52, 0x0F, 0x40, 0x17, 0xD3, 0xD0};
constexpr uint8_t kSapphire256TestVector[32] = {0xE7, 0xC8, 0x2B, 0x6D, 0x25, 0x8A, 0xFD, 0xE0, 0x34, 0x42, 0x93,
                                                0xA3, 0xE2, 0xE5, 0x28, 0x96, 0xA5, 0x46, 0x50, 0x6B, 0x13, 0x93,
                                                0x86, 0x1B, 0x40, 0xC6, 0x93, 0x4B, 0x51, 0xFA, 0x66, 0xDD};
constexpr uint8_t kSapphire288TestVector[36] = {0x40, 0xF6, 0x5A, 0x37, 0xD8, 0xCB, 0x11, 0x65, 0xDC, 0xFB, 0xDE,
                                                0x63, 0x2B, 0x2C, 0xBE, 0x9C, 0x2B, 0xB7, 0xF3, 0xED, 0x22, 0xD1,
                                                0xEB, 0xEF, 0x0F, 0xA1, 0x88, 0xED, 0x23, 0xF0, 0x7F, 0x9C, 0x7E,
                                                0x61, 0x37, 0x40};
constexpr uint8_t kSapphire320TestVector[40] = {0xD8, 0xED, 0xA5, 0x74, 0x99, 0x48, 0xAC, 0x0B, 0x00, 0x90, 0xCD,
                                                0x87, 0x61, 0xF2, 0x18, 0xDB, 0xA4, 0x1D, 0xCB, 0x73, 0xE4, 0x33,
                                                0x99, 0xDD, 0x37, 0x12, 0x06, 0x93, 0x97, 0x33, 0x95, 0x00, 0x4A,
                                                0xCF, 0x86, 0xDB, 0x23, 0x6D, 0xE7, 0x6B};

const THashClass kSapphire320Class{"THash_Sapphire320", THash::Class, 40, kSapphire320TestVector,
                                   MakeHashObject<THash_Sapphire320>};
const THashClass kSapphire288Class{"THash_Sapphire288", THash_Sapphire320::Class, 36, kSapphire288TestVector,
                                   MakeHashObject<THash_Sapphire288>};
const THashClass kSapphire256Class{"THash_Sapphire256", THash_Sapphire320::Class, 32, kSapphire256TestVector,
                                   MakeHashObject<THash_Sapphire256>};
const THashClass kSapphire224Class{"THash_Sapphire224", THash_Sapphire320::Class, 28, kSapphire224TestVector,
                                   MakeHashObject<THash_Sapphire224>};
const THashClass kSapphire192Class{"THash_Sapphire192", THash_Sapphire320::Class, 24, kSapphire192TestVector,
                                   MakeHashObject<THash_Sapphire192>};
const THashClass kSapphire160Class{"THash_Sapphire160", THash_Sapphire320::Class, 20, kSapphire160TestVector,
                                   MakeHashObject<THash_Sapphire160>};
const THashClass kSapphire128Class{"THash_Sapphire128", THash_Sapphire320::Class, 16, kSapphire128TestVector,
                                   MakeHashObject<THash_Sapphire128>};

}  // namespace

THashClassRef THash_Sapphire320::Class() { return &kSapphire320Class; }
THashClassRef THash_Sapphire288::Class() { return &kSapphire288Class; }
THashClassRef THash_Sapphire256::Class() { return &kSapphire256Class; }
THashClassRef THash_Sapphire224::Class() { return &kSapphire224Class; }
THashClassRef THash_Sapphire192::Class() { return &kSapphire192Class; }
THashClassRef THash_Sapphire160::Class() { return &kSapphire160Class; }
THashClassRef THash_Sapphire128::Class() { return &kSapphire128Class; }

THash_Sapphire320::~THash_Sapphire320() {
  ZeroKeyMaterial(digest_, sizeof digest_);
  ZeroKeyMaterial(cards_, sizeof cards_);
}

void THash_Sapphire320::Init() {
  std::memset(digest_, 0, sizeof digest_);
  byteCount_ = 0;
  rotor_ = 1;
  ratchet_ = 3;
  avalanche_ = 5;
  lastPlain_ = 7;
  lastCipher_ = 11;
  for (int i = 0; i < 256; ++i) cards_[i] = static_cast<uint8_t>(255 - i);
  ApplyProtection(true);
}

// One Sapphire II encryption step; its cipher byte is the last cipher byte.
void THash_Sapphire320::Feed(uint8_t byte) {
  uint8_t* card = cards_;
  ratchet_ = static_cast<uint8_t>(ratchet_ + card[rotor_]);
  rotor_ = static_cast<uint8_t>(rotor_ + 1);
  const uint8_t t = card[lastCipher_];
  card[lastCipher_] = card[ratchet_];
  card[ratchet_] = card[lastPlain_];
  card[lastPlain_] = card[rotor_];
  card[rotor_] = t;
  avalanche_ = static_cast<uint8_t>(avalanche_ + card[t]);
  lastCipher_ = byte ^ card[card[static_cast<uint8_t>(card[lastPlain_] + card[lastCipher_] + card[avalanche_])]] ^
                card[static_cast<uint8_t>(card[ratchet_] + card[rotor_])];
  lastPlain_ = byte;
}

void THash_Sapphire320::Update(const void* data, int32_t size) {
  if (size <= 0) return;
  byteCount_ += static_cast<uint64_t>(size);
  const auto* p = static_cast<const uint8_t*>(data);
  for (int32_t i = 0; i < size; ++i) Feed(p[i]);
}

void THash_Sapphire320::Finish() {
  const auto n = static_cast<uint8_t>(DigestSize());
  uint8_t x = n;
  for (int k = 255; k >= 0; --k) {
    x ^= static_cast<uint8_t>(k);
    Update(&x, 1);
  }
  uint8_t trailer[40] = {0x80, 0x02, 0x00, n, 1, 3, 5, 7, 11};
  StoreLE64(trailer + 9, byteCount_ * 8);
  for (int i = 0; i < n; ++i) {
    Feed(trailer[i]);
    digest_[i] = lastCipher_;
  }
  ApplyProtection(false);
}

}  // namespace kv::crypto
