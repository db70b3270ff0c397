#pragma once
// Golden record bytes put together field by field from the record layouts
// (length byte + text, little-endian integers), without the codecs in
// shared/, so that a test of an encoder or decoder has an independent oracle.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::test {

inline constexpr size_t kProtocolRecordSize = 864;

// A fixed-size record, zero-filled unless another fill byte is given.
class GoldenRecord {
 public:
  explicit GoldenRecord(size_t size, uint8_t fill = 0) : b_(size, fill) {}
  // The length byte at `at`, the text's bytes after it.
  GoldenRecord& Text(size_t at, std::string_view s);
  GoldenRecord& Le(size_t at, uint64_t v, int width);
  GoldenRecord& Byte(size_t at, uint8_t v) { return Le(at, v, 1); }
  // Bytes [from, to) set to v.
  GoldenRecord& Fill(size_t from, size_t to, uint8_t v);
  const std::vector<uint8_t>& bytes() const { return b_; }

 private:
  std::vector<uint8_t> b_;
};

// The contents of an "OS.vrl", appended in call order: a block is a 516-byte
// header (source folder SS[255] at 0, destination folder SS[255] at 256,
// Int32 count at 512) followed by its 264-byte entries (file name SS[255] at
// 0, FILETIME at 256). The count is written as given, so that tests can make
// blocks that hold fewer entries than they claim.
class GoldenOldStamps {
 public:
  GoldenOldStamps& Block(std::string_view source, std::string_view destination, int32_t count);
  GoldenOldStamps& Entry(std::string_view name, uint64_t fileTime);
  // Any other bytes, e.g. a cut-off tail.
  GoldenOldStamps& Raw(const std::vector<uint8_t>& bytes);
  const std::vector<uint8_t>& bytes() const { return b_; }
  std::string text() const { return std::string(b_.begin(), b_.end()); }
  void WriteTo(const std::string& posixPath) const;

 private:
  std::vector<uint8_t> b_;
};

}  // namespace kv::test
