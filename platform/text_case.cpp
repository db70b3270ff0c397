// Case mapping, case-insensitive comparison and UTF-8 boundaries.
#include <algorithm>
#include <iterator>

#include "platform/text.h"
#include "platform/text_p.h"

namespace kv::platform {
namespace textdetail {
namespace {

struct CaseRange {
  uint32_t first;
  uint32_t last;
  uint32_t step;  // 1: every code point of the range, 2: every other one
  int32_t delta;
};

#include "platform/casefold_table.inc"

template <size_t N>
uint32_t LookUp(const CaseRange (&table)[N], uint32_t cp) {
  const auto after = std::upper_bound(std::begin(table), std::end(table), cp,
                                      [](uint32_t value, const CaseRange& r) { return value < r.first; });
  if (after == std::begin(table)) return cp;
  const CaseRange& r = *std::prev(after);
  if (cp > r.last || (cp - r.first) % r.step != 0) return cp;
  return static_cast<uint32_t>(static_cast<int64_t>(cp) + r.delta);
}

}  // namespace

uint32_t SimpleUpper(uint32_t cp) { return cp < 0x80 ? AsciiUpper(cp) : LookUp(kUpperRanges, cp); }
uint32_t SimpleLower(uint32_t cp) { return cp < 0x80 ? AsciiLower(cp) : LookUp(kLowerRanges, cp); }
uint32_t SimpleFold(uint32_t cp) { return cp < 0x80 ? AsciiLower(cp) : LookUp(kFoldRanges, cp); }

}  // namespace textdetail

using namespace textdetail;

namespace {

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

template <typename AsciiMap>
std::string MapAscii(std::string_view s, AsciiMap map) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(map(static_cast<unsigned char>(c)));
  return out;
}

// The byte length may change (U+023A takes two bytes, its lowercase three).
template <typename AsciiMap>
std::string MapCase(std::string_view s, AsciiMap asciiMap, uint32_t (*map)(uint32_t)) {
  if (IsAscii(s)) return MapAscii(s, asciiMap);
  std::string out;
  out.reserve(s.size() + s.size() / 4);
  for (size_t i = 0; i < s.size();) {
    const Utf8Char c = DecodeUtf8(s, i);
    if (c.valid) {
      AppendUtf8(out, map(c.value));
    } else {
      out.push_back(s[i]);
    }
    i += c.length;
  }
  return out;
}

int Sign(int64_t v) { return (v > 0) - (v < 0); }

}  // namespace

std::string UpperCaseAscii(std::string_view s) { return MapAscii(s, AsciiUpper); }
std::string LowerCaseAscii(std::string_view s) { return MapAscii(s, AsciiLower); }

int CompareTextAscii(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const int ca = AsciiLower(static_cast<unsigned char>(a[i]));
    const int cb = AsciiLower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca - cb;
  }
  return Sign(static_cast<int64_t>(a.size()) - static_cast<int64_t>(b.size()));
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareTextAscii(a, b) == 0;
}

std::string UpperCase(std::string_view s) { return MapCase(s, AsciiUpper, SimpleUpper); }
std::string LowerCase(std::string_view s) { return MapCase(s, AsciiLower, SimpleLower); }

int CompareText(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const uint32_t ka = NextFoldKey(a, i);
    const uint32_t kb = NextFoldKey(b, j);
    if (ka != kb) return ka < kb ? -1 : 1;
  }
  return static_cast<int>(i < a.size()) - static_cast<int>(j < b.size());
}

bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

uint64_t TextHash(std::string_view s) {
  uint64_t h = 14695981039346656037ull;  // FNV-1a over the comparison keys
  for (size_t i = 0; i < s.size();) {
    h ^= NextFoldKey(s, i);
    h *= 1099511628211ull;
  }
  return h;
}

size_t Utf8PrefixLength(std::string_view s, size_t maxBytes) {
  if (maxBytes >= s.size()) return s.size();
  // Only a sequence that starts at most three bytes earlier can reach over
  // the cut; malformed bytes stand alone and may be cut anywhere.
  for (size_t back = 1; back <= 3 && back <= maxBytes; ++back) {
    const size_t start = maxBytes - back;
    if (IsContinuation(static_cast<unsigned char>(s[start]))) continue;
    const Utf8Char c = DecodeUtf8(s, start);
    return (c.valid && start + c.length > maxBytes) ? start : maxBytes;
  }
  return maxBytes;
}

}  // namespace kv::platform
