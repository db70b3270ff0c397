#pragma once
// The digests beyond the MD4 frame: HAVAL in five sizes, Snefru-256, seven
// sizes of a digest on the Sapphire II stream cipher, and a digest on the
// Square block cipher. (Tiger lives in the MD4 frame, md4family.h.)
//
// Every length field counts the message's bits in 64 bits, so messages of
// 4 GiB and more get their full length. Finish leaves the digest at
// DigestBytes, where an Update after it goes on from.
#include <cstdint>

#include "crypto/hash.h"

namespace kv::crypto {

// HAVAL (1992) with 128-byte blocks and eight chaining words. HavalPasses of
// 3, 4 or 5 stays; any other gives 3 for up to 20 digest bytes, 4 for 24 and
// 28, 5 for 32, and Init settles it. The smaller sizes fold the chaining
// words by addition, as published.
class THash_Haval256 : public THash {
 public:
  static THashClassRef Class();
  using THash::THash;
  ~THash_Haval256() override;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override;
  void Update(const void* data, int32_t size) override;
  void Finish() override;
  // The chaining words, least significant byte first; folded after Finish.
  uint8_t* DigestBytes() override { return words_; }
  int32_t HavalPasses() const { return passes_; }
  void SetHavalPasses(int32_t passes) { passes_ = passes; }

 protected:
  // Compresses one block into the chaining words.
  virtual void Transform(const uint8_t* block);
  uint64_t byteCount_ = 0;
  uint8_t block_[128] = {};
  uint8_t words_[32] = {};

 private:
  void Fold();
  int32_t passes_ = 0;
};

class THash_Haval224 : public THash_Haval256 {
 public:
  static THashClassRef Class();
  using THash_Haval256::THash_Haval256;
  THashClassRef ClassType() const override { return Class(); }
};
class THash_Haval192 : public THash_Haval256 {
 public:
  static THashClassRef Class();
  using THash_Haval256::THash_Haval256;
  THashClassRef ClassType() const override { return Class(); }
};
class THash_Haval160 : public THash_Haval256 {
 public:
  static THashClassRef Class();
  using THash_Haval256::THash_Haval256;
  THashClassRef ClassType() const override { return Class(); }
};
class THash_Haval128 : public THash_Haval256 {
 public:
  static THashClassRef Class();
  using THash_Haval256::THash_Haval256;
  THashClassRef ClassType() const override { return Class(); }
};

// Snefru (1990) with 256-bit output: 32-byte blocks read as little-endian
// words, the length inside the last block when it fits, the digest words
// least significant byte first; so it equals other Snefru-256 programs only
// for the empty message. SnefruPasses is 8 after Init; a value outside 1 to 8
// (there are S-boxes for eight passes) counts as 8.
class THash_Snefru : public THash {
 public:
  static THashClassRef Class();
  using THash::THash;
  ~THash_Snefru() override;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override;
  void Update(const void* data, int32_t size) override;
  void Finish() override;
  uint8_t* DigestBytes() override { return words_; }
  int32_t SnefruPasses() const { return passes_; }
  void SetSnefruPasses(int32_t passes) { passes_ = passes; }

 protected:
  // Compresses 32 message bytes into the chaining words.
  virtual void Transform(const uint8_t* block);
  uint64_t byteCount_ = 0;
  uint8_t block_[32] = {};
  uint8_t words_[32] = {};

 private:
  int32_t passes_ = 8;
};

// A digest on the Sapphire II stream cipher: each byte is encrypted into the
// state; the finishing feeds the digest size into it.
class THash_Sapphire320 : public THash {
 public:
  static THashClassRef Class();
  using THash::THash;
  ~THash_Sapphire320() override;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override;
  void Update(const void* data, int32_t size) override;
  void Finish() override;
  uint8_t* DigestBytes() override { return digest_; }

 protected:
  uint64_t byteCount_ = 0;

 private:
  void Feed(uint8_t byte);
  uint8_t rotor_ = 0, ratchet_ = 0, avalanche_ = 0, lastPlain_ = 0, lastCipher_ = 0;
  uint8_t cards_[256] = {};
  uint8_t digest_[40] = {};
};

class THash_Sapphire288 : public THash_Sapphire320 {
 public:
  static THashClassRef Class();
  using THash_Sapphire320::THash_Sapphire320;
  THashClassRef ClassType() const override { return Class(); }
};
class THash_Sapphire256 : public THash_Sapphire320 {
 public:
  static THashClassRef Class();
  using THash_Sapphire320::THash_Sapphire320;
  THashClassRef ClassType() const override { return Class(); }
};
class THash_Sapphire224 : public THash_Sapphire320 {
 public:
  static THashClassRef Class();
  using THash_Sapphire320::THash_Sapphire320;
  THashClassRef ClassType() const override { return Class(); }
};
class THash_Sapphire192 : public THash_Sapphire320 {
 public:
  static THashClassRef Class();
  using THash_Sapphire320::THash_Sapphire320;
  THashClassRef ClassType() const override { return Class(); }
};
class THash_Sapphire160 : public THash_Sapphire320 {
 public:
  static THashClassRef Class();
  using THash_Sapphire320::THash_Sapphire320;
  THashClassRef ClassType() const override { return Class(); }
};
class THash_Sapphire128 : public THash_Sapphire320 {
 public:
  static THashClassRef Class();
  using THash_Sapphire320::THash_Sapphire320;
  THashClassRef ClassType() const override { return Class(); }
};

// A digest on the Square cipher: the four chaining words key the cipher,
// which encodes the 16-byte block; each new chaining word is the encoded
// word xor the message word.
class THash_Square : public THash {
 public:
  static THashClassRef Class();
  using THash::THash;
  ~THash_Square() override;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override;
  void Update(const void* data, int32_t size) override;
  void Finish() override;
  uint8_t* DigestBytes() override { return words_; }

 protected:
  virtual void Transform(const uint8_t* block);
  uint64_t byteCount_ = 0;
  uint8_t block_[16] = {};
  uint8_t words_[16] = {};
};

}  // namespace kv::crypto
