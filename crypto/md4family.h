#pragma once
// The digests built on the MD4 frame: a byte counter, a 64-byte block buffer
// and ten 32-bit chaining words, with MD4 (RFC 1320), MD5 (RFC 1321),
// RIPEMD-128/160/256/320, SHA (FIPS PUB 180 of 1993), SHA-1 (FIPS PUB
// 180-1) and Tiger (its three 64-bit words in the first 24 bytes) as
// compression functions.
//
// Finish leaves the digest in the chaining words and the block zero, and does
// not reset the counter: an Update after Finish continues from the finished
// words, and the next Finish counts the bytes of both. Update reads its data
// as it goes, so data that is this object's own DigestBytes (as the keystream
// actions feed it) is read partly before and partly after a block it
// completes is compressed.
#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "crypto/hash.h"

namespace kv::crypto {

class THash_MD4 : public THash {
 public:
  static THashClassRef Class();
  explicit THash_MD4(TProtectionRef chain = nullptr) : THash(std::move(chain)) {}
  ~THash_MD4() override;
  THashClassRef ClassType() const override { return Class(); }

  void Init() override;
  void Update(const void* data, int32_t size) override;
  void Finish() override;
  // The chaining words, each least significant byte first on every host.
  uint8_t* DigestBytes() override { return digestWords_; }

 protected:
  // Compresses one 64-byte block into the chaining words.
  virtual void Transform(const uint8_t* block);

  // Starts afresh with these chaining values.
  void Reset(const uint32_t (&initial)[10]);
  // Pads the block (the padding byte, then zeros), puts the bit count in its
  // last 8 bytes (most significant byte first when bigEndian), compresses,
  // and clears the block.
  void CompressLastBlock(bool bigEndian, uint8_t padding = 0x80);
  // Chaining word i, stored least significant byte first.
  uint32_t Word(int index) const {
    uint32_t v;
    std::memcpy(&v, digestWords_ + 4 * index, 4);
    return std::endian::native == std::endian::little ? v : __builtin_bswap32(v);
  }
  void SetWord(int index, uint32_t value) {
    if constexpr (std::endian::native != std::endian::little) value = __builtin_bswap32(value);
    std::memcpy(digestWords_ + 4 * index, &value, 4);
  }
  // Adds values to the chaining words from word 0 on.
  void AddToWords(std::initializer_list<uint32_t> values) {
    int index = 0;
    for (uint32_t value : values) {
      SetWord(index, Word(index) + value);
      ++index;
    }
  }

  // 64 bits, so that messages of 4 GiB and more get their full length.
  uint64_t byteCount_ = 0;
  alignas(8) uint8_t block_[64] = {};
  alignas(8) uint8_t digestWords_[40] = {};
};

class THash_MD5 : public THash_MD4 {
 public:
  static THashClassRef Class();
  using THash_MD4::THash_MD4;
  THashClassRef ClassType() const override { return Class(); }

 protected:
  void Transform(const uint8_t* block) override;
};

class THash_RipeMD128 : public THash_MD4 {
 public:
  static THashClassRef Class();
  using THash_MD4::THash_MD4;
  THashClassRef ClassType() const override { return Class(); }

 protected:
  void Transform(const uint8_t* block) override;
};

class THash_RipeMD160 : public THash_MD4 {
 public:
  static THashClassRef Class();
  using THash_MD4::THash_MD4;
  THashClassRef ClassType() const override { return Class(); }

 protected:
  void Transform(const uint8_t* block) override;
};

// Two lines of four chaining words that exchange one word after each round.
class THash_RipeMD256 : public THash_MD4 {
 public:
  static THashClassRef Class();
  using THash_MD4::THash_MD4;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override;

 protected:
  void Transform(const uint8_t* block) override;
};

// Two lines of five chaining words that exchange one word after each round.
class THash_RipeMD320 : public THash_MD4 {
 public:
  static THashClassRef Class();
  using THash_MD4::THash_MD4;
  THashClassRef ClassType() const override { return Class(); }

 protected:
  void Transform(const uint8_t* block) override;
};

// SHA of 1993, without the one-bit rotation in the message schedule; it takes
// only the digest size from RIPEMD-160. Its digest is most significant byte
// first: Finish reverses the bytes of each chaining word in place.
class THash_SHA : public THash_RipeMD160 {
 public:
  static THashClassRef Class();
  using THash_RipeMD160::THash_RipeMD160;
  THashClassRef ClassType() const override { return Class(); }
  void Finish() override;

 protected:
  void Transform(const uint8_t* block) override;
  // Whether each word of the message schedule is rotated by one bit.
  virtual bool RotatesSchedule() const { return false; }
};

// SHA-1: SHA with the rotation.
class THash_SHA1 : public THash_SHA {
 public:
  static THashClassRef Class();
  using THash_SHA::THash_SHA;
  THashClassRef ClassType() const override { return Class(); }

 protected:
  bool RotatesSchedule() const override { return true; }
};

// Tiger (1996) in this frame: three 64-bit chaining words (the digest, least
// significant byte first), the byte 0x01 where the others pad with 0x80.
// TigerPasses from 3 to 32 stays, any other value gives 3; Init settles it.
class THash_Tiger : public THash_MD4 {
 public:
  static THashClassRef Class();
  using THash_MD4::THash_MD4;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override;
  void Finish() override;
  int32_t TigerPasses() const { return passes_; }
  void SetTigerPasses(int32_t passes) { passes_ = passes; }

 protected:
  void Transform(const uint8_t* block) override;

 private:
  int32_t passes_ = 0;
};

// Fills w[0..79] with the SHA message schedule of a 64-byte block, each word
// of the expansion rotated left by one bit when rotate is set. The unit start
// picks one of the two forms by CPUType (the second uses the processor's
// byte-swap instruction); tests may set it.
using ExpandSHABlockProc = void (*)(uint32_t* w, const uint8_t* block, bool rotate);
extern ExpandSHABlockProc ExpandSHABlock;
void ExpandSHABlock386(uint32_t* w, const uint8_t* block, bool rotate);
void ExpandSHABlock486(uint32_t* w, const uint8_t* block, bool rotate);

}  // namespace kv::crypto
