#include "crypto/cryptutil.h"

#include <string.h>

#include <cstring>

#include "crypto/crctables.h"
#include "crypto/stringformat.h"
#include "platform/cpu.h"
#include "platform/time.h"

namespace kv::crypto {

const uint8_t CommonTestBlock[32] = {0x30, 0x44, 0xED, 0x6E, 0x45, 0xA4, 0x96, 0xF5, 0xF6, 0x35, 0xA2,
                                     0xEB, 0x3D, 0x1A, 0x5D, 0xD6, 0xCB, 0x1D, 0x09, 0x82, 0x2D, 0xBD,
                                     0xF5, 0x60, 0xC2, 0xB8, 0x58, 0xA1, 0x91, 0xF9, 0x81, 0xB1};

namespace {

int g_cpuType = 0;

uint32_t LoadWord(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void StoreWord(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

template <uint32_t (*Swap)(uint32_t)>
void SwapWords(const void* source, void* destination, int32_t count) {
  const auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(destination);
  for (int32_t i = count - 1; i >= 0; --i) StoreWord(out + 4 * i, Swap(LoadWord(in + 4 * i)));
}

// Reverses the bits inside each byte; the byte order is left to the caller.
uint32_t ReverseBitsInBytes(uint32_t v) {
  v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
  v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
  return ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
}

// Keeps a compiler from dropping stores to memory that is not read again.
void Barrier(void* data) { asm volatile("" : : "r"(data) : "memory"); }

UnitStarts g_starts;

}  // namespace

void SwapBytesBuffer386(const void* source, void* destination, int32_t count) {
  SwapWords<SwapBytes386>(source, destination, count);
}
void SwapBytesBuffer486(const void* source, void* destination, int32_t count) {
  SwapWords<SwapBytes486>(source, destination, count);
}
uint32_t ReverseBits386(uint32_t value) { return SwapBytes386(ReverseBitsInBytes(value)); }
uint32_t ReverseBits486(uint32_t value) { return SwapBytes486(ReverseBitsInBytes(value)); }

uint32_t (*SwapBytes)(uint32_t) = SwapBytes486;
void (*SwapBytesBuffer)(const void*, void*, int32_t) = SwapBytesBuffer486;
uint32_t (*ReverseBits)(uint32_t) = ReverseBits486;

void SelectByteOrderRoutines(int cpuType) {
  const bool hasByteSwap = cpuType >= 4;
  SwapBytes = hasByteSwap ? SwapBytes486 : SwapBytes386;
  SwapBytesBuffer = hasByteSwap ? SwapBytesBuffer486 : SwapBytesBuffer386;
  ReverseBits = hasByteSwap ? ReverseBits486 : ReverseBits386;
}

int CompareBytes(const void* a, const void* b, int32_t length) {
  const auto* pa = static_cast<const uint8_t*>(a);
  const auto* pb = static_cast<const uint8_t*>(b);
  for (int32_t i = 0; i < length; ++i) {
    if (pa[i] != pb[i]) return static_cast<int>(pa[i]) - static_cast<int>(pb[i]);
  }
  return 0;
}

void XorBuffers(const void* a, const void* b, int32_t length, void* out) {
  const auto* pa = static_cast<const uint8_t*>(a);
  const auto* pb = static_cast<const uint8_t*>(b);
  auto* po = static_cast<uint8_t*>(out);
  int32_t i = 0;
  // Eight bytes at a time; out may be a or b, but never overlaps them otherwise.
  for (; i + 8 <= length; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, pa + i, 8);
    std::memcpy(&y, pb + i, 8);
    x ^= y;
    std::memcpy(po + i, &x, 8);
  }
  for (; i < length; ++i) po[i] = pa[i] ^ pb[i];
}

uint32_t MixRandomBytes(uint32_t seed, void* buffer, int32_t length) {
  auto* p = static_cast<uint8_t*>(buffer);
  for (int32_t i = 0; i < length; ++i) {
    seed ^= p[i];
    seed = seed * 134775813u + 1;
    p[i] = static_cast<uint8_t>(seed >> 24);
  }
  return seed;
}

uint32_t ClockSeed() {
  constexpr int64_t kTicksPerMillisecond = 10'000;
  constexpr int64_t kMillisecondsPerDay = 86'400'000;
  // ((hour * 60 + minute) * 60 + second) * 1000 + millisecond, in UTC.
  const auto millisecondOfDay =
      static_cast<uint32_t>(platform::FileTimeNow() / kTicksPerMillisecond % kMillisecondsPerDay);
  const uint64_t counter = platform::PerformanceCounter();
  return millisecondOfDay ^ static_cast<uint32_t>(counter) ^ static_cast<uint32_t>(counter >> 32);
}

uint16_t CRC16Update(uint16_t crc, const void* data, int32_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (int32_t i = 0; i < length; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kCrc16Table[(crc ^ p[i]) & 0xFF]);
  return crc;
}

uint32_t CRC32Update(uint32_t crc, const void* data, int32_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (int32_t i = 0; i < length; ++i) crc = (crc >> 8) ^ kCrc32Table[(crc ^ p[i]) & 0xFF];
  return crc;
}

int CPUType() { return g_cpuType; }

void WipeKeyMaterial(void* data, size_t size) {
  if (!data || size == 0) return;
  std::memset(data, 0xAA, size);
  Barrier(data);
  std::memset(data, 0x55, size);
  Barrier(data);
  explicit_bzero(data, size);
}

void ZeroKeyMaterial(void* data, size_t size) {
  if (data && size > 0) explicit_bzero(data, size);
}

void CryptUtilStartup() {
  g_starts.Start([] {
    platform::AddModuleUnloadHook(DropModuleFormats);
    g_cpuType = platform::ProcessorFamily();
    SelectByteOrderRoutines(g_cpuType);
    RegisterStringFormats({TStringFormat::Class(), TStringFormat_HEX::Class(), TStringFormat_HEXL::Class(),
                           TStringFormat_MIME64::Class(), TStringFormat_UU::Class(), TStringFormat_XX::Class()});
  });
}

void CryptUtilShutdown() {
  g_starts.End([] {
    platform::RemoveModuleUnloadHook(DropModuleFormats);
    ClearStringFormats();
  });
}

}  // namespace kv::crypto
