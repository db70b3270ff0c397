#pragma once
// Golden records for the tests of record readers and writers: bytes placed at
// their offsets by a writer of our own, independent of the codecs under test.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::test {

// Little-endian fields over a fixed buffer.
class GoldenBytes {
 public:
  explicit GoldenBytes(size_t size, uint8_t fill = 0) : b_(size, fill) {}
  void U8(size_t at, uint8_t v) { b_.at(at) = v; }
  void Int(size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b_.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
  }
  // Length byte, the text cut at the byte when longer than width, zeros up to
  // the field's width.
  void Text(size_t at, size_t width, const std::string& s) {
    const size_t n = std::min(s.size(), width);
    b_.at(at) = static_cast<uint8_t>(n);
    for (size_t i = 0; i < width; ++i) b_.at(at + 1 + i) = i < n ? static_cast<uint8_t>(s[i]) : 0;
  }
  std::vector<uint8_t> take() { return std::move(b_); }

 private:
  std::vector<uint8_t> b_;
};

inline uint64_t LittleEndian(const uint8_t* p, int width) {
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace kv::test
