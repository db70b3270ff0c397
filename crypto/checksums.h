#pragma once
// The five small checksums. Each keeps only its state, which DigestBytes
// shows low byte first on every host (a 16-bit checksum 0x40EE reads EE 40).
// Update works on the data as it stood when it was called, also when the
// data is the checksum's own state.
#include <cstdint>

#include "crypto/hash.h"

namespace kv::crypto {

// Per byte: the state rotated left by 5 bits within 16, the byte xored in.
class THash_XOR16 : public TChecksum {
 public:
  static THashClassRef Class();
  using TChecksum::TChecksum;
  ~THash_XOR16() override;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override;
  void Update(const void* data, int32_t size) override;
  uint8_t* DigestBytes() override { return state_; }

 protected:
  uint16_t State() const;
  void SetState(uint16_t state);

 private:
  uint8_t state_[2] = {};
};

// Over 16-bit little-endian words; a call with an odd length first xors its
// first byte in without rotating, so odd pieces differ from one piece.
class THash_XOR32 : public TChecksum {
 public:
  static THashClassRef Class();
  using TChecksum::TChecksum;
  ~THash_XOR32() override;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override;
  void Update(const void* data, int32_t size) override;
  uint8_t* DigestBytes() override { return state_; }

 protected:
  uint32_t State() const;
  void SetState(uint32_t state);

 private:
  uint8_t state_[4] = {};
};

// CRC-32 of ISO 3309 / IEEE 802.3.
class THash_CRC32 : public THash_XOR32 {
 public:
  static THashClassRef Class();
  using THash_XOR32::THash_XOR32;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override;
  void Update(const void* data, int32_t size) override;
  void Finish() override;
};

// The CCITT polynomial 0x1021 with each byte shifted in below the state,
// initial 0xFFFF, no final xor: not the CRC-16/CCITT-FALSE value.
class THash_CRC16_CCITT : public THash_XOR16 {
 public:
  static THashClassRef Class();
  using THash_XOR16::THash_XOR16;
  THashClassRef ClassType() const override { return Class(); }
  void Init() override;
  void Update(const void* data, int32_t size) override;
};

// CRC-16 of the ARC form (polynomial 0x8005 reflected, initial 0, no final xor).
class Thash_CRC16_Standard : public THash_XOR16 {
 public:
  static THashClassRef Class();
  using THash_XOR16::THash_XOR16;
  THashClassRef ClassType() const override { return Class(); }
  void Update(const void* data, int32_t size) override;
};

}  // namespace kv::crypto
