#include "testsupport/goldenrecords.h"

#include "testsupport/fixtures.h"

namespace kv::test {

GoldenRecord& GoldenRecord::Text(size_t at, std::string_view s) {
  b_.at(at) = static_cast<uint8_t>(s.size());
  for (size_t i = 0; i < s.size(); ++i) b_.at(at + 1 + i) = static_cast<uint8_t>(s[i]);
  return *this;
}

GoldenRecord& GoldenRecord::Le(size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b_.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
  return *this;
}

GoldenRecord& GoldenRecord::Fill(size_t from, size_t to, uint8_t v) {
  for (size_t i = from; i < to; ++i) b_.at(i) = v;
  return *this;
}

GoldenOldStamps& GoldenOldStamps::Block(std::string_view source, std::string_view destination, int32_t count) {
  return Raw(GoldenRecord(516).Text(0, source).Text(256, destination).Le(512, static_cast<uint32_t>(count), 4).bytes());
}

GoldenOldStamps& GoldenOldStamps::Entry(std::string_view name, uint64_t fileTime) {
  return Raw(GoldenRecord(264).Text(0, name).Le(256, fileTime, 8).bytes());
}

GoldenOldStamps& GoldenOldStamps::Raw(const std::vector<uint8_t>& bytes) {
  b_.insert(b_.end(), bytes.begin(), bytes.end());
  return *this;
}

void GoldenOldStamps::WriteTo(const std::string& posixPath) const { WriteBytes(posixPath, b_); }

}  // namespace kv::test
