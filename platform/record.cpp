#include "platform/record.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace kv::platform {
namespace {

// A length byte can name at most 255 bytes, so no SS field is wider.
constexpr size_t kMaxTextWidth = 255;

std::string TooLongMessage(const std::string& field, const std::string& value, size_t width) {
  return "Text for field \"" + field + "\" is " + std::to_string(value.size()) +
         " bytes long, the field holds at most " + std::to_string(width) + ": \"" + value + "\"";
}

// Little-endian value of `count` bytes at offset; bytes past the end read as zero.
uint64_t ReadLittleEndian(std::span<const uint8_t> bytes, size_t offset, size_t count) {
  if (offset >= bytes.size()) return 0;
  const size_t available = std::min(count, bytes.size() - offset);
  uint64_t v = 0;
  for (size_t i = 0; i < available; ++i) v |= uint64_t{bytes[offset + i]} << (8 * i);
  return v;
}

void CheckRange(size_t size, size_t offset, size_t count) {
  if (offset > size || count > size - offset) {
    throw std::out_of_range("record write of " + std::to_string(count) + " bytes at offset " +
                            std::to_string(offset) + " outside a record of " +
                            std::to_string(size) + " bytes");
  }
}

void CheckTextWidth(size_t width) {
  if (width > kMaxTextWidth) {
    throw std::invalid_argument("text field width " + std::to_string(width) + " exceeds 255");
  }
}

}  // namespace

FieldTooLong::FieldTooLong(std::string field, std::string value, size_t width)
    : std::runtime_error(TooLongMessage(field, value, width)),
      field_(std::move(field)),
      value_(std::move(value)) {}

uint8_t RecordReader::U8(size_t offset) const {
  return static_cast<uint8_t>(ReadLittleEndian(bytes_, offset, 1));
}

uint16_t RecordReader::U16(size_t offset) const {
  return static_cast<uint16_t>(ReadLittleEndian(bytes_, offset, 2));
}

int32_t RecordReader::I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }

uint32_t RecordReader::U32(size_t offset) const {
  return static_cast<uint32_t>(ReadLittleEndian(bytes_, offset, 4));
}

int64_t RecordReader::I64(size_t offset) const {
  return static_cast<int64_t>(ReadLittleEndian(bytes_, offset, 8));
}

std::string RecordReader::Text(size_t offset, size_t width) const {
  if (offset >= bytes_.size()) return {};
  const size_t start = offset + 1;
  const size_t available = bytes_.size() - std::min(start, bytes_.size());
  const size_t length = std::min({size_t{bytes_[offset]}, width, available});
  return std::string(reinterpret_cast<const char*>(bytes_.data()) + start, length);
}

void RecordWriter::U8(size_t offset, uint8_t v) { PutLittleEndian(offset, v, 1); }
void RecordWriter::U16(size_t offset, uint16_t v) { PutLittleEndian(offset, v, 2); }
void RecordWriter::I32(size_t offset, int32_t v) {
  PutLittleEndian(offset, static_cast<uint32_t>(v), 4);
}
void RecordWriter::U32(size_t offset, uint32_t v) { PutLittleEndian(offset, v, 4); }
void RecordWriter::I64(size_t offset, int64_t v) {
  PutLittleEndian(offset, static_cast<uint64_t>(v), 8);
}

void RecordWriter::PutLittleEndian(size_t offset, uint64_t v, size_t count) {
  CheckRange(bytes_.size(), offset, count);
  for (size_t i = 0; i < count; ++i) bytes_[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

void RecordWriter::Text(size_t offset, size_t width, std::string_view text) {
  PutText(offset, width, text.substr(0, Utf8PrefixLength(text, width)));
}

void RecordWriter::TextExact(size_t offset, size_t width, std::string_view text,
                             const char* fieldName) {
  if (text.size() > width) {
    throw FieldTooLong(fieldName ? fieldName : "", std::string(text), width);
  }
  PutText(offset, width, text);
}

void RecordWriter::PutText(size_t offset, size_t width, std::string_view fitting) {
  CheckTextWidth(width);
  CheckRange(bytes_.size(), offset, width + 1);
  uint8_t* field = bytes_.data() + offset;
  field[0] = static_cast<uint8_t>(fitting.size());
  std::memcpy(field + 1, fitting.data(), fitting.size());
  std::memset(field + 1 + fitting.size(), 0, width - fitting.size());
}

void RequireRecordSize(std::span<const uint8_t> bytes, size_t size, const char* recordName) {
  if (bytes.size() < size) throw std::invalid_argument(std::string(recordName) + ": record too short");
}

}  // namespace kv::platform
