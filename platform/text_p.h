#pragma once
// Private to the text helpers: UTF-8 decoding and the simple case tables.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::platform::textdetail {

// Keys of malformed bytes lie above every code point, so such a byte never
// equals a character and sorts after all of them, by its byte value.
inline constexpr uint32_t kStrayByteBase = 0x110000;

struct Utf8Char {
  uint32_t value;   // code point, or the byte itself when !valid
  uint32_t length;  // bytes consumed, 1 for a malformed byte
  bool valid;
};

inline bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Strict decoding: overlong forms, surrogates and values past U+10FFFF are
// malformed, and so is a sequence cut short; each such lead byte stands alone.
inline Utf8Char DecodeUtf8(std::string_view s, size_t i) {
  const auto byteAt = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byteAt(i);
  const Utf8Char stray{lead, 1, false};
  if (lead < 0x80) return {lead, 1, true};
  uint32_t length = 0;
  uint32_t value = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return stray;
  }
  if (s.size() - i < length) return stray;
  const unsigned char second = byteAt(i + 1);
  if (second < low || second > high) return stray;
  value = (value << 6) | (second & 0x3F);
  for (uint32_t k = 2; k < length; ++k) {
    const unsigned char next = byteAt(i + k);
    if (!IsContinuation(next)) return stray;
    value = (value << 6) | (next & 0x3F);
  }
  return {value, length, true};
}

inline void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

inline unsigned char AsciiLower(unsigned char b) { return (b >= 'A' && b <= 'Z') ? b + 32 : b; }
inline unsigned char AsciiUpper(unsigned char b) { return (b >= 'a' && b <= 'z') ? b - 32 : b; }

// Simple (one code point to one code point) mappings; identity where none.
uint32_t SimpleUpper(uint32_t cp);
uint32_t SimpleLower(uint32_t cp);
uint32_t SimpleFold(uint32_t cp);

// Reads the character at i, advances i past it and returns its comparison
// key: the folded code point, or kStrayByteBase + byte for a malformed byte.
inline uint32_t NextFoldKey(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    ++i;
    return AsciiLower(b);
  }
  const Utf8Char c = DecodeUtf8(s, i);
  i += c.length;
  return c.valid ? SimpleFold(c.value) : kStrayByteBase + c.value;
}

}  // namespace kv::platform::textdetail
