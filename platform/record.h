#pragma once
// Fixed-layout binary records: fields are read and written at their offsets,
// little-endian, never by casting packed structs.
//
// SS[n] is a text field of n+1 bytes: a length byte, then n bytes. A reader
// clamps the length byte to n; a writer zero-fills the field and never splits
// a UTF-8 sequence.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// Thrown by RecordWriter::TextExact when a text does not fit its field.
class FieldTooLong : public std::runtime_error {
 public:
  FieldTooLong(std::string field, std::string value, size_t width);
  const std::string& field() const { return field_; }
  const std::string& value() const { return value_; }

 private:
  std::string field_;
  std::string value_;
};

// Throws std::invalid_argument naming the record when bytes are fewer than size.
void RequireRecordSize(std::span<const uint8_t> bytes, size_t size, const char* recordName);

class RecordReader {
 public:
  explicit RecordReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  size_t size() const { return bytes_.size(); }
  // Reads outside the record give zero / empty text, never undefined bytes:
  // bytes past the end count as zero, and a text stops at the end of the
  // record. Callers that need a whole record check size() first.
  uint8_t U8(size_t offset) const;
  uint16_t U16(size_t offset) const;
  int32_t I32(size_t offset) const;
  uint32_t U32(size_t offset) const;
  int64_t I64(size_t offset) const;
  // SS[width]: one length byte at offset, the text after it.
  std::string Text(size_t offset, size_t width) const;

 private:
  std::span<const uint8_t> bytes_;
};

class RecordWriter {
 public:
  explicit RecordWriter(size_t size) : bytes_(size, 0) {}
  // A field outside the record is a fault of the caller's offset table:
  // std::out_of_range, nothing written. Widths above 255 are refused with
  // std::invalid_argument (a length byte cannot count them).
  void U8(size_t offset, uint8_t v);
  void U16(size_t offset, uint16_t v);
  void I32(size_t offset, int32_t v);
  void U32(size_t offset, uint32_t v);
  void I64(size_t offset, int64_t v);
  // Cuts a text that is too long at the last whole UTF-8 sequence that fits.
  void Text(size_t offset, size_t width, std::string_view text);
  // Refuses a text that is too long: throws FieldTooLong naming the field.
  void TextExact(size_t offset, size_t width, std::string_view text, const char* fieldName);
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>&& take() { return std::move(bytes_); }

 private:
  void PutLittleEndian(size_t offset, uint64_t v, size_t count);
  void PutText(size_t offset, size_t width, std::string_view fitting);

  std::vector<uint8_t> bytes_;
};

}  // namespace kv::platform
