#pragma once
// CryptUtil, the base of the hash and cipher classes: the small routines on
// bits, buffers, pseudo-random bytes and table CRCs that the digests and
// ciphers share, the processor check that picks between two forms of the
// byte-order routines, the constant test input, and the module start that
// sets all of it up. The coding base TProtection is in protection.h, the
// string formats and their registry in stringformat.h.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/modules.h"

namespace kv::crypto {

// The library's constant 32-byte test input.
extern const uint8_t CommonTestBlock[32];

// Rotations of a 32-bit value by n mod 32.
inline uint32_t RotateLeft(uint32_t value, int n) { return std::rotl(value, n & 31); }
inline uint32_t RotateRight(uint32_t value, int n) { return std::rotr(value, n & 31); }

// The byte-order routines in use; the module start picks their form by
// CPUType, and either form gives the same results. Tests may set them.
// SwapBytes reverses the four bytes of a value. SwapBytesBuffer swaps count
// 32-bit words of source into destination, last word first, so both may be
// the same place. ReverseBits reverses all 32 bits.
extern uint32_t (*SwapBytes)(uint32_t value);
extern void (*SwapBytesBuffer)(const void* source, void* destination, int32_t count);
extern uint32_t (*ReverseBits)(uint32_t value);

// The two forms: the first exchanges bytes around a 16-bit rotation (for
// processors without a byte-swap instruction), the second uses that
// instruction.
inline uint32_t SwapBytes386(uint32_t value) {
  const auto exchangeLowBytes = [](uint32_t v) { return (v & 0xFFFF0000u) | ((v & 0xFF) << 8) | ((v >> 8) & 0xFF); };
  return exchangeLowBytes(RotateLeft(exchangeLowBytes(value), 16));
}
inline uint32_t SwapBytes486(uint32_t value) { return __builtin_bswap32(value); }
void SwapBytesBuffer386(const void* source, void* destination, int32_t count);
void SwapBytesBuffer486(const void* source, void* destination, int32_t count);
uint32_t ReverseBits386(uint32_t value);
uint32_t ReverseBits486(uint32_t value);
// Sets the three routines to the forms a processor class gets: below 4 the
// first forms, from 4 on the second.
void SelectByteOrderRoutines(int cpuType);

// 0 when equal, else the first differing byte of a minus that of b (unsigned).
int CompareBytes(const void* a, const void* b, int32_t length);
// out[i] = a[i] xor b[i] below length; out may be a or b.
void XorBuffers(const void* a, const void* b, int32_t length, void* out);
// For each byte: the seed's lowest byte is xored with it, the seed steps on
// (seed * 134775813 + 1), and the byte becomes the seed's highest byte.
// Returns the final seed.
uint32_t MixRandomBytes(uint32_t seed, void* buffer, int32_t length);
// Milliseconds of the current UTC day xored with both halves of the
// high-resolution counter.
uint32_t ClockSeed();
// Table CRCs without inversion inside; no data leaves crc unchanged.
uint16_t CRC16Update(uint16_t crc, const void* data, int32_t length);
uint32_t CRC32Update(uint32_t crc, const void* data, int32_t length);

// The processor class found at module start (see platform/cpu.h); 0 before.
int CPUType();

// Overwrites key material with 0xAA, 0x55 and zero, in writes the compiler
// cannot drop.
void WipeKeyMaterial(void* data, size_t size);
// Zeroes it the same way.
void ZeroKeyMaterial(void* data, size_t size);

// The count behind a unit's start and end: only the first start sets the
// unit up and only the matching last end takes it down, each under the
// count's lock so that no start sees a unit half set up.
class UnitStarts {
 public:
  template <typename SetUp>
  void Start(SetUp setUp) {
    std::lock_guard lock(mutex_);
    if (starts_++ == 0) setUp();
  }
  // False for an end without a start, which does nothing.
  template <typename TearDown>
  bool End(TearDown tearDown) {
    std::lock_guard lock(mutex_);
    if (starts_ == 0) return false;
    if (--starts_ == 0) tearDown();
    return true;
  }

 private:
  std::mutex mutex_;
  int starts_ = 0;
};

// Module start and end, counted: only the first start and the matching last
// end do anything. The start installs DropModuleFormats as unload hook, finds
// CPUType, picks the byte-order routines and registers the six string formats.
void CryptUtilStartup();
void CryptUtilShutdown();

}  // namespace kv::crypto
