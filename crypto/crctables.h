#pragma once
// The 256-entry tables of the table-driven CRCs, computed from their
// polynomials while compiling.
#include <array>
#include <cstdint>

namespace kv::crypto {

// Reflected form: entry i is the CRC of byte i, low bit first.
template <typename T>
constexpr std::array<T, 256> ReflectedCrcTable(T polynomial) {
  std::array<T, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    T crc = static_cast<T>(i);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<T>((crc & 1) ? (crc >> 1) ^ polynomial : crc >> 1);
    table[i] = crc;
  }
  return table;
}

// Non-reflected 16-bit form: entry i is the CRC of byte i, high bit first.
constexpr std::array<uint16_t, 256> ShiftInCrcTable16(uint16_t polynomial) {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ polynomial : crc << 1);
    }
    table[i] = crc;
  }
  return table;
}

// IEEE 802.3 CRC-32, reflected polynomial 0x04C11DB7.
inline constexpr std::array<uint32_t, 256> kCrc32Table = ReflectedCrcTable<uint32_t>(0xEDB88320u);
// CRC-16 of the ARC form, reflected polynomial 0x8005.
inline constexpr std::array<uint16_t, 256> kCrc16Table = ReflectedCrcTable<uint16_t>(0xA001u);
// The CCITT polynomial 0x1021, high bit first.
inline constexpr std::array<uint16_t, 256> kCrcCcittTable = ShiftInCrcTable16(0x1021u);

static_assert(kCrc32Table[1] == 0x77073096u && kCrc32Table[255] == 0x2D02EF8Du);
static_assert(kCrc16Table[1] == 0xC0C1u && kCrc16Table[255] == 0x4040u);
static_assert(kCrcCcittTable[1] == 0x1021u && kCrcCcittTable[255] == 0x1EF0u);

}  // namespace kv::crypto
