#pragma once
// The seventeen block ciphers of the Cipher unit. Each supplies its sizes,
// its stored test vector, its key schedule and its block routines; modes,
// vector, key-length rule, coding runs and registry are TCipher's.
//
// Unless a class says otherwise, blocks and keys are read as little-endian
// 32-bit words, and a key shorter than the class takes is padded with zeros.
#include <cstdint>

#include "crypto/cipher.h"

namespace kv::crypto {

// Declares what every concrete class has: its class value, the constructor
// of TCipher, and a constructor for subclasses that pass their own class.
#define KV_CIPHER_CLASS(Name, Parent)                                                              \
 public:                                                                                           \
  static TCipherClassRef Class();                                                                  \
  explicit Name(TProtectionRef chain = nullptr, THashClassRef keyHashClass = nullptr)              \
      : Parent(Class(), std::move(chain), keyHashClass) {}                                         \
  TCipherClassRef ClassType() const override { return Class(); }                                   \
                                                                                                   \
 protected:                                                                                        \
  Name(TCipherClassRef cipherClass, TProtectionRef chain, THashClassRef keyHashClass)              \
      : Parent(cipherClass, std::move(chain), keyHashClass) {}                                     \
                                                                                                   \
 public:

// GOST 28147-89 with the S-boxes of the test parameter set; 32 rounds.
class TCipher_Gost : public TCipher {
  KV_CIPHER_CLASS(TCipher_Gost, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
};

// Blowfish: big-endian words. An empty key is refused (code 2, "1-56").
class TCipher_Blowfish : public TCipher {
  KV_CIPHER_CLASS(TCipher_Blowfish, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
};

// Blowfish's block routines come in two forms with the same results: one
// with the processor's byte-swap instruction (from processor class 4 on), one
// without. The unit start picks them by CPUType; tests may pick either.
void SelectBlowfishRoutines(int cpuType);

// IDEA: big-endian 16-bit words.
class TCipher_IDEA : public TCipher {
  KV_CIPHER_CLASS(TCipher_IDEA, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
};

// The SAFER family. SaferVariant: 0 K by key length, 1 K-40, 2 K-64,
// 3 K-128, 4 SK by key length, 5 SK-40, 6 SK-64, 7 SK-128; Init sets it to the
// class's variant, chosen by key length where the class leaves it open (up to
// 5 bytes 40 bits, up to 8 64 bits, else 128). SaferRounds from 4 to 13
// stays; any other gives 5, 6 or 10 by key width. Both keep what Init settled.
class TCipher_SAFER : public TCipher {
  KV_CIPHER_CLASS(TCipher_SAFER, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;

  int32_t SaferRounds() const { return rounds_; }
  void SetSaferRounds(int32_t rounds) { rounds_ = rounds; }
  uint8_t SaferVariant() const { return variant_; }

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
  // The variant the class passes to the key set-up.
  virtual uint8_t ClassVariant() const { return 4; }

 private:
  int32_t rounds_ = 0;
  uint8_t variant_ = 0;
};

class TCipher_SAFER_K40 : public TCipher_SAFER {
  KV_CIPHER_CLASS(TCipher_SAFER_K40, TCipher_SAFER)
 protected:
  uint8_t ClassVariant() const override { return 1; }
};
class TCipher_SAFER_SK40 : public TCipher_SAFER_K40 {
  KV_CIPHER_CLASS(TCipher_SAFER_SK40, TCipher_SAFER_K40)
 protected:
  uint8_t ClassVariant() const override { return 5; }
};
class TCipher_SAFER_K64 : public TCipher_SAFER {
  KV_CIPHER_CLASS(TCipher_SAFER_K64, TCipher_SAFER)
 protected:
  uint8_t ClassVariant() const override { return 2; }
};
class TCipher_SAFER_SK64 : public TCipher_SAFER_K64 {
  KV_CIPHER_CLASS(TCipher_SAFER_SK64, TCipher_SAFER_K64)
 protected:
  uint8_t ClassVariant() const override { return 6; }
};
class TCipher_SAFER_K128 : public TCipher_SAFER {
  KV_CIPHER_CLASS(TCipher_SAFER_K128, TCipher_SAFER)
 protected:
  uint8_t ClassVariant() const override { return 3; }
};
class TCipher_SAFER_SK128 : public TCipher_SAFER_K128 {
  KV_CIPHER_CLASS(TCipher_SAFER_SK128, TCipher_SAFER_K128)
 protected:
  uint8_t ClassVariant() const override { return 7; }
};

// TEA. TeaCycles from 16 to 32 stays; less gives 16, more 32 (Init settles it).
class TCipher_TEA : public TCipher {
  KV_CIPHER_CLASS(TCipher_TEA, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;

  int32_t TeaCycles() const { return cycles_; }
  void SetTeaCycles(int32_t cycles) { cycles_ = cycles; }

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
  // The four key words, then the cycles Init settled.
  const uint32_t* Key() { return ScheduleAs<uint32_t>(); }

 private:
  int32_t cycles_ = 0;
};

// XTEA, with TEA's key and cycle rules.
class TCipher_TEAN : public TCipher_TEA {
  KV_CIPHER_CLASS(TCipher_TEAN, TCipher_TEA)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;
};

// SCOP, a keystream of 32 words per 128-byte block added to (subtracted
// from) the data. Every coding run starts from the keystream state Init left.
// An empty key is refused (code 2, "1-48").
class TCipher_SCOP : public TCipher {
  KV_CIPHER_CLASS(TCipher_SCOP, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;
  void Init(const void* key, int32_t length, const void* vector = nullptr, int32_t vectorLength = 0) override;
  void ResetFeedback() override;

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
};

// Q128: 16 rounds over the public table Q.
class TCipher_Q128 : public TCipher {
  KV_CIPHER_CLASS(TCipher_Q128, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;
  // Q: 1024 words.
  static const uint32_t* Table();

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
};

// 3-Way: 11 rounds on three words.
class TCipher_3Way : public TCipher {
  KV_CIPHER_CLASS(TCipher_3Way, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
};

// Twofish; keys are padded with zeros to 16, 24 or 32 bytes.
class TCipher_Twofish : public TCipher {
  KV_CIPHER_CLASS(TCipher_Twofish, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
};

// SHARK: 6 rounds on the block as one little-endian 64-bit value, byte i
// being element i of the cipher's state.
class TCipher_Shark : public TCipher {
  KV_CIPHER_CLASS(TCipher_Shark, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
};

// Square: 8 rounds.
class TCipher_Square : public TCipher {
  KV_CIPHER_CLASS(TCipher_Square, TCipher)
  void EncodeBlock(void* block) override;
  void DecodeBlock(void* block) override;

 protected:
  void MakeKeySchedule(const uint8_t* key, int32_t length) override;
};

#undef KV_CIPHER_CLASS

}  // namespace kv::crypto
