#include "crypto/md4family.h"

#include <cstring>

#include "crypto/blockfeed.h"
#include "crypto/md4steps.h"

namespace kv::crypto {

namespace {

// The initial chaining values of RIPEMD-320; the first four are those of
// MD4, MD5 and RIPEMD-128, the first five those of RIPEMD-160, SHA and SHA-1.
constexpr uint32_t kInitialWords[10] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0,
                                        0x76543210, 0xFEDCBA98, 0x89ABCDEF, 0x01234567, 0x3C2D1E0F};

// The digests of CommonTestBlock.
constexpr uint8_t kMD4TestVector[16] = {0x25, 0xEA, 0xBF, 0xCC, 0x8C, 0xC9, 0x6F, 0xD9,
                                        0x2D, 0xCF, 0x7E, 0xBD, 0x7F, 0x87, 0x7C, 0x7C};
constexpr uint8_t kMD5TestVector[16] = {0x3E, 0xD8, 0x34, 0x8C, 0xD2, 0xA4, 0x45, 0xD6,
                                        0x75, 0x5D, 0x4B, 0xC9, 0xFE, 0xDC, 0xC2, 0xC6};

const THashClass kMD4Class{"THash_MD4", THash::Class, 16, kMD4TestVector, MakeHashObject<THash_MD4>};
const THashClass kMD5Class{"THash_MD5", THash_MD4::Class, 16, kMD5TestVector, MakeHashObject<THash_MD5>};

}  // namespace

THashClassRef THash_MD4::Class() { return &kMD4Class; }
THashClassRef THash_MD5::Class() { return &kMD5Class; }

THash_MD4::~THash_MD4() {
  ZeroKeyMaterial(digestWords_, sizeof digestWords_);
  ZeroKeyMaterial(block_, sizeof block_);
}

void THash_MD4::Reset(const uint32_t (&initial)[10]) {
  std::memset(block_, 0, sizeof block_);
  for (int i = 0; i < 10; ++i) SetWord(i, initial[i]);
  byteCount_ = 0;
  ApplyProtection(true);
}

void THash_MD4::Init() { Reset(kInitialWords); }

void THash_MD4::Update(const void* data, int32_t size) {
  FeedBlocks(block_, byteCount_, data, size, [this](const uint8_t* block) { Transform(block); });
}

void THash_MD4::CompressLastBlock(bool bigEndian, uint8_t padding) {
  size_t at = byteCount_ % 64;
  block_[at++] = padding;
  if (at > 56) {
    std::memset(block_ + at, 0, 64 - at);
    Transform(block_);
    at = 0;
  }
  std::memset(block_ + at, 0, 64 - at);
  const uint64_t bits = byteCount_ * 8;
  for (int i = 0; i < 8; ++i) block_[bigEndian ? 63 - i : 56 + i] = static_cast<uint8_t>(bits >> (8 * i));
  Transform(block_);
  std::memset(block_, 0, sizeof block_);
}

void THash_MD4::Finish() {
  CompressLastBlock(false);
  ApplyProtection(false);
}

void THash_MD4::Transform(const uint8_t* block) {
  uint32_t x[16];
  LoadBlockLE(x, block);
  uint32_t a = Word(0), b = Word(1), c = Word(2), d = Word(3);

  Md4Step<Md4F>(a, b, c, d, x[0], 3);
  Md4Step<Md4F>(d, a, b, c, x[1], 7);
  Md4Step<Md4F>(c, d, a, b, x[2], 11);
  Md4Step<Md4F>(b, c, d, a, x[3], 19);
  Md4Step<Md4F>(a, b, c, d, x[4], 3);
  Md4Step<Md4F>(d, a, b, c, x[5], 7);
  Md4Step<Md4F>(c, d, a, b, x[6], 11);
  Md4Step<Md4F>(b, c, d, a, x[7], 19);
  Md4Step<Md4F>(a, b, c, d, x[8], 3);
  Md4Step<Md4F>(d, a, b, c, x[9], 7);
  Md4Step<Md4F>(c, d, a, b, x[10], 11);
  Md4Step<Md4F>(b, c, d, a, x[11], 19);
  Md4Step<Md4F>(a, b, c, d, x[12], 3);
  Md4Step<Md4F>(d, a, b, c, x[13], 7);
  Md4Step<Md4F>(c, d, a, b, x[14], 11);
  Md4Step<Md4F>(b, c, d, a, x[15], 19);

  Md4Step<Md4G>(a, b, c, d, x[0] + 0x5A827999, 3);
  Md4Step<Md4G>(d, a, b, c, x[4] + 0x5A827999, 5);
  Md4Step<Md4G>(c, d, a, b, x[8] + 0x5A827999, 9);
  Md4Step<Md4G>(b, c, d, a, x[12] + 0x5A827999, 13);
  Md4Step<Md4G>(a, b, c, d, x[1] + 0x5A827999, 3);
  Md4Step<Md4G>(d, a, b, c, x[5] + 0x5A827999, 5);
  Md4Step<Md4G>(c, d, a, b, x[9] + 0x5A827999, 9);
  Md4Step<Md4G>(b, c, d, a, x[13] + 0x5A827999, 13);
  Md4Step<Md4G>(a, b, c, d, x[2] + 0x5A827999, 3);
  Md4Step<Md4G>(d, a, b, c, x[6] + 0x5A827999, 5);
  Md4Step<Md4G>(c, d, a, b, x[10] + 0x5A827999, 9);
  Md4Step<Md4G>(b, c, d, a, x[14] + 0x5A827999, 13);
  Md4Step<Md4G>(a, b, c, d, x[3] + 0x5A827999, 3);
  Md4Step<Md4G>(d, a, b, c, x[7] + 0x5A827999, 5);
  Md4Step<Md4G>(c, d, a, b, x[11] + 0x5A827999, 9);
  Md4Step<Md4G>(b, c, d, a, x[15] + 0x5A827999, 13);

  Md4Step<Md4H>(a, b, c, d, x[0] + 0x6ED9EBA1, 3);
  Md4Step<Md4H>(d, a, b, c, x[8] + 0x6ED9EBA1, 9);
  Md4Step<Md4H>(c, d, a, b, x[4] + 0x6ED9EBA1, 11);
  Md4Step<Md4H>(b, c, d, a, x[12] + 0x6ED9EBA1, 15);
  Md4Step<Md4H>(a, b, c, d, x[2] + 0x6ED9EBA1, 3);
  Md4Step<Md4H>(d, a, b, c, x[10] + 0x6ED9EBA1, 9);
  Md4Step<Md4H>(c, d, a, b, x[6] + 0x6ED9EBA1, 11);
  Md4Step<Md4H>(b, c, d, a, x[14] + 0x6ED9EBA1, 15);
  Md4Step<Md4H>(a, b, c, d, x[1] + 0x6ED9EBA1, 3);
  Md4Step<Md4H>(d, a, b, c, x[9] + 0x6ED9EBA1, 9);
  Md4Step<Md4H>(c, d, a, b, x[5] + 0x6ED9EBA1, 11);
  Md4Step<Md4H>(b, c, d, a, x[13] + 0x6ED9EBA1, 15);
  Md4Step<Md4H>(a, b, c, d, x[3] + 0x6ED9EBA1, 3);
  Md4Step<Md4H>(d, a, b, c, x[11] + 0x6ED9EBA1, 9);
  Md4Step<Md4H>(c, d, a, b, x[7] + 0x6ED9EBA1, 11);
  Md4Step<Md4H>(b, c, d, a, x[15] + 0x6ED9EBA1, 15);

  AddToWords({a, b, c, d});
}

void THash_MD5::Transform(const uint8_t* block) {
  uint32_t x[16];
  LoadBlockLE(x, block);
  uint32_t a = Word(0), b = Word(1), c = Word(2), d = Word(3);

  Md5Step<Md5F>(a, b, c, d, x[0] + 0xD76AA478, 7);
  Md5Step<Md5F>(d, a, b, c, x[1] + 0xE8C7B756, 12);
  Md5Step<Md5F>(c, d, a, b, x[2] + 0x242070DB, 17);
  Md5Step<Md5F>(b, c, d, a, x[3] + 0xC1BDCEEE, 22);
  Md5Step<Md5F>(a, b, c, d, x[4] + 0xF57C0FAF, 7);
  Md5Step<Md5F>(d, a, b, c, x[5] + 0x4787C62A, 12);
  Md5Step<Md5F>(c, d, a, b, x[6] + 0xA8304613, 17);
  Md5Step<Md5F>(b, c, d, a, x[7] + 0xFD469501, 22);
  Md5Step<Md5F>(a, b, c, d, x[8] + 0x698098D8, 7);
  Md5Step<Md5F>(d, a, b, c, x[9] + 0x8B44F7AF, 12);
  Md5Step<Md5F>(c, d, a, b, x[10] + 0xFFFF5BB1, 17);
  Md5Step<Md5F>(b, c, d, a, x[11] + 0x895CD7BE, 22);
  Md5Step<Md5F>(a, b, c, d, x[12] + 0x6B901122, 7);
  Md5Step<Md5F>(d, a, b, c, x[13] + 0xFD987193, 12);
  Md5Step<Md5F>(c, d, a, b, x[14] + 0xA679438E, 17);
  Md5Step<Md5F>(b, c, d, a, x[15] + 0x49B40821, 22);

  Md5Step<Md5G>(a, b, c, d, x[1] + 0xF61E2562, 5);
  Md5Step<Md5G>(d, a, b, c, x[6] + 0xC040B340, 9);
  Md5Step<Md5G>(c, d, a, b, x[11] + 0x265E5A51, 14);
  Md5Step<Md5G>(b, c, d, a, x[0] + 0xE9B6C7AA, 20);
  Md5Step<Md5G>(a, b, c, d, x[5] + 0xD62F105D, 5);
  Md5Step<Md5G>(d, a, b, c, x[10] + 0x02441453, 9);
  Md5Step<Md5G>(c, d, a, b, x[15] + 0xD8A1E681, 14);
  Md5Step<Md5G>(b, c, d, a, x[4] + 0xE7D3FBC8, 20);
  Md5Step<Md5G>(a, b, c, d, x[9] + 0x21E1CDE6, 5);
  Md5Step<Md5G>(d, a, b, c, x[14] + 0xC33707D6, 9);
  Md5Step<Md5G>(c, d, a, b, x[3] + 0xF4D50D87, 14);
  Md5Step<Md5G>(b, c, d, a, x[8] + 0x455A14ED, 20);
  Md5Step<Md5G>(a, b, c, d, x[13] + 0xA9E3E905, 5);
  Md5Step<Md5G>(d, a, b, c, x[2] + 0xFCEFA3F8, 9);
  Md5Step<Md5G>(c, d, a, b, x[7] + 0x676F02D9, 14);
  Md5Step<Md5G>(b, c, d, a, x[12] + 0x8D2A4C8A, 20);

  Md5Step<Md5H>(a, b, c, d, x[5] + 0xFFFA3942, 4);
  Md5Step<Md5H>(d, a, b, c, x[8] + 0x8771F681, 11);
  Md5Step<Md5H>(c, d, a, b, x[11] + 0x6D9D6122, 16);
  Md5Step<Md5H>(b, c, d, a, x[14] + 0xFDE5380C, 23);
  Md5Step<Md5H>(a, b, c, d, x[1] + 0xA4BEEA44, 4);
  Md5Step<Md5H>(d, a, b, c, x[4] + 0x4BDECFA9, 11);
  Md5Step<Md5H>(c, d, a, b, x[7] + 0xF6BB4B60, 16);
  Md5Step<Md5H>(b, c, d, a, x[10] + 0xBEBFBC70, 23);
  Md5Step<Md5H>(a, b, c, d, x[13] + 0x289B7EC6, 4);
  Md5Step<Md5H>(d, a, b, c, x[0] + 0xEAA127FA, 11);
  Md5Step<Md5H>(c, d, a, b, x[3] + 0xD4EF3085, 16);
  Md5Step<Md5H>(b, c, d, a, x[6] + 0x04881D05, 23);
  Md5Step<Md5H>(a, b, c, d, x[9] + 0xD9D4D039, 4);
  Md5Step<Md5H>(d, a, b, c, x[12] + 0xE6DB99E5, 11);
  Md5Step<Md5H>(c, d, a, b, x[15] + 0x1FA27CF8, 16);
  Md5Step<Md5H>(b, c, d, a, x[2] + 0xC4AC5665, 23);

  Md5Step<Md5I>(a, b, c, d, x[0] + 0xF4292244, 6);
  Md5Step<Md5I>(d, a, b, c, x[7] + 0x432AFF97, 10);
  Md5Step<Md5I>(c, d, a, b, x[14] + 0xAB9423A7, 15);
  Md5Step<Md5I>(b, c, d, a, x[5] + 0xFC93A039, 21);
  Md5Step<Md5I>(a, b, c, d, x[12] + 0x655B59C3, 6);
  Md5Step<Md5I>(d, a, b, c, x[3] + 0x8F0CCC92, 10);
  Md5Step<Md5I>(c, d, a, b, x[10] + 0xFFEFF47D, 15);
  Md5Step<Md5I>(b, c, d, a, x[1] + 0x85845DD1, 21);
  Md5Step<Md5I>(a, b, c, d, x[8] + 0x6FA87E4F, 6);
  Md5Step<Md5I>(d, a, b, c, x[15] + 0xFE2CE6E0, 10);
  Md5Step<Md5I>(c, d, a, b, x[6] + 0xA3014314, 15);
  Md5Step<Md5I>(b, c, d, a, x[13] + 0x4E0811A1, 21);
  Md5Step<Md5I>(a, b, c, d, x[4] + 0xF7537E82, 6);
  Md5Step<Md5I>(d, a, b, c, x[11] + 0xBD3AF235, 10);
  Md5Step<Md5I>(c, d, a, b, x[2] + 0x2AD7D2BB, 15);
  Md5Step<Md5I>(b, c, d, a, x[9] + 0xEB86D391, 21);

  AddToWords({a, b, c, d});
}

}  // namespace kv::crypto
