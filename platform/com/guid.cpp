#include "platform/com/guid.h"

#include <cstdio>

namespace kv::platform {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos]; false on any other character.
bool ReadHex(std::string_view text, size_t pos, int digits, uint64_t& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    int v = HexValue(text[pos + i]);
    if (v < 0) return false;
    value = value << 4 | static_cast<uint64_t>(v);
  }
  return true;
}

// "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}"
constexpr size_t kTextLength = 38;
constexpr size_t kDashes[] = {9, 14, 19, 24};

}  // namespace

std::string GuidToString(REFGUID g) {
  char buf[kTextLength + 1];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

std::optional<GUID> GuidFromString(std::string_view text) {
  if (text.size() != kTextLength || text.front() != '{' || text.back() != '}') return std::nullopt;
  for (size_t dash : kDashes) {
    if (text[dash] != '-') return std::nullopt;
  }
  GUID g;
  uint64_t v = 0;
  if (!ReadHex(text, 1, 8, v)) return std::nullopt;
  g.Data1 = static_cast<uint32_t>(v);
  if (!ReadHex(text, 10, 4, v)) return std::nullopt;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ReadHex(text, 15, 4, v)) return std::nullopt;
  g.Data3 = static_cast<uint16_t>(v);
  const size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, bytePos[i], 2, v)) return std::nullopt;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  return g;
}

}  // namespace kv::platform
