#include "crypto/checksums.h"

#include <bit>

#include "crypto/crctables.h"
#include "crypto/wordorder.h"

namespace kv::crypto {

namespace {

// The checksums of CommonTestBlock.
constexpr uint8_t kXOR16TestVector[2] = {0x79, 0xE8};
constexpr uint8_t kXOR32TestVector[4] = {0x8D, 0xAD, 0x89, 0x7F};
constexpr uint8_t kCRC32TestVector[4] = {0x58, 0xEE, 0x1F, 0x31};
constexpr uint8_t kCRC16CCITTTestVector[2] = {0xB0, 0xD1};
constexpr uint8_t kCRC16StandardTestVector[2] = {0xED, 0x75};

const THashClass kXOR16Class{"THash_XOR16", TChecksum::Class, 2, kXOR16TestVector, MakeHashObject<THash_XOR16>};
const THashClass kXOR32Class{"THash_XOR32", TChecksum::Class, 4, kXOR32TestVector, MakeHashObject<THash_XOR32>};
const THashClass kCRC32Class{"THash_CRC32", THash_XOR32::Class, 4, kCRC32TestVector, MakeHashObject<THash_CRC32>};
const THashClass kCRC16CCITTClass{"THash_CRC16_CCITT", THash_XOR16::Class, 2, kCRC16CCITTTestVector,
                                  MakeHashObject<THash_CRC16_CCITT>};
const THashClass kCRC16StandardClass{"Thash_CRC16_Standard", THash_XOR16::Class, 2, kCRC16StandardTestVector,
                                     MakeHashObject<Thash_CRC16_Standard>};

const uint8_t* Bytes(const void* data) { return static_cast<const uint8_t*>(data); }

}  // namespace

THashClassRef THash_XOR16::Class() { return &kXOR16Class; }
THashClassRef THash_XOR32::Class() { return &kXOR32Class; }
THashClassRef THash_CRC32::Class() { return &kCRC32Class; }
THashClassRef THash_CRC16_CCITT::Class() { return &kCRC16CCITTClass; }
THashClassRef Thash_CRC16_Standard::Class() { return &kCRC16StandardClass; }

// --- 16-bit state --------------------------------------------------------------------

THash_XOR16::~THash_XOR16() { ZeroKeyMaterial(state_, sizeof state_); }

uint16_t THash_XOR16::State() const { return static_cast<uint16_t>(state_[0] | state_[1] << 8); }

void THash_XOR16::SetState(uint16_t state) {
  state_[0] = static_cast<uint8_t>(state);
  state_[1] = static_cast<uint8_t>(state >> 8);
}

void THash_XOR16::Init() {
  SetState(0);
  ApplyProtection(true);
}

void THash_XOR16::Update(const void* data, int32_t size) {
  uint16_t state = State();
  for (int32_t i = 0; i < size; ++i) state = static_cast<uint16_t>(std::rotl(state, 5) ^ Bytes(data)[i]);
  SetState(state);
}

void THash_CRC16_CCITT::Init() {
  SetState(0xFFFF);
  ApplyProtection(true);
}

void THash_CRC16_CCITT::Update(const void* data, int32_t size) {
  uint16_t state = State();
  for (int32_t i = 0; i < size; ++i) {
    state = static_cast<uint16_t>(((state << 8) | Bytes(data)[i]) ^ kCrcCcittTable[state >> 8]);
  }
  SetState(state);
}

void Thash_CRC16_Standard::Update(const void* data, int32_t size) {
  if (size > 0) SetState(CRC16Update(State(), data, size));
}

// --- 32-bit state --------------------------------------------------------------------

THash_XOR32::~THash_XOR32() { ZeroKeyMaterial(state_, sizeof state_); }

uint32_t THash_XOR32::State() const { return LoadLE32(state_); }
void THash_XOR32::SetState(uint32_t state) { StoreLE32(state_, state); }

void THash_XOR32::Init() {
  SetState(0);
  ApplyProtection(true);
}

void THash_XOR32::Update(const void* data, int32_t size) {
  if (size <= 0) return;
  const uint8_t* p = Bytes(data);
  uint32_t state = State();
  if (size % 2 != 0) state ^= *p++;
  for (int32_t i = 0; i < size / 2; ++i, p += 2)
    state = std::rotl(state, 5) ^ (p[0] | static_cast<uint32_t>(p[1]) << 8);
  SetState(state);
}

void THash_CRC32::Init() {
  SetState(0xFFFFFFFF);
  ApplyProtection(true);
}

void THash_CRC32::Update(const void* data, int32_t size) {
  if (size > 0) SetState(CRC32Update(State(), data, size));
}

void THash_CRC32::Finish() {
  SetState(~State());
  ApplyProtection(false);
}

}  // namespace kv::crypto
