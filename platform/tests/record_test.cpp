#include "platform/record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <vector>

namespace kv::platform {
namespace {

// Offset table of the test record (96 bytes):
//   0 SS[10] name    11 byte flag    12 Int32 count    16 U32 mask
//  20 Int64 size     28 SS[8] time   37 U16 port       40 Int64 FILETIME
//  48 SS[40] path (to 88, rest reserved zero)
constexpr size_t kSize = 96;

// Built byte by byte from the table, without the codec.
std::vector<uint8_t> GoldenRecord() {
  std::vector<uint8_t> g(kSize, 0);
  const auto put = [&g](size_t at, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), g.begin() + static_cast<std::ptrdiff_t>(at));
  };
  put(0, {5, 'D', 'a', 't', 'e', 'n'});
  put(11, {0x7F});
  put(12, {0xFE, 0xFF, 0xFF, 0xFF});                          // -2
  put(16, {0xEF, 0xBE, 0xAD, 0xDE});                          // 0xDEADBEEF
  put(20, {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01});  // 0x0123456789ABCDEF
  put(28, {8, '1', '2', ':', '3', '4', ':', '5', '6'});
  put(37, {0x15, 0x00});                                      // 21 = FTP port, low byte first
  put(40, {0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01});  // 116444736000000000, low word first
  put(48, {4, 'C', ':', '\\', 'x'});
  return g;
}

TEST(RecordTest, WriterProducesAndReaderDecodesTheGoldenBytes) {
  RecordWriter w(kSize);
  w.Text(0, 10, "Daten");
  w.U8(11, 0x7F);
  w.I32(12, -2);
  w.U32(16, 0xDEADBEEF);
  w.I64(20, 0x0123456789ABCDEF);
  w.TextExact(28, 8, "12:34:56", "time");
  w.U16(37, 21);
  w.I64(40, 116444736000000000LL);
  w.Text(48, 40, "C:\\x");
  const auto g = GoldenRecord();
  EXPECT_EQ(w.bytes(), g);

  RecordReader r(g);
  EXPECT_EQ(r.Text(0, 10), "Daten");
  EXPECT_EQ(r.U8(11), 0x7F);
  EXPECT_EQ(r.I32(12), -2);
  EXPECT_EQ(r.U32(12), 0xFFFFFFFEu);
  EXPECT_EQ(r.U32(16), 0xDEADBEEFu);
  EXPECT_EQ(r.I64(20), 0x0123456789ABCDEF);
  EXPECT_EQ(r.Text(28, 8), "12:34:56");
  EXPECT_EQ(r.U16(37), 21);
  EXPECT_EQ(r.I64(40), 116444736000000000LL);
  EXPECT_EQ(r.Text(48, 40), "C:\\x");
}

TEST(RecordTest, ReaderClampsLengthBytesAndStaysInsideTheRecord) {
  std::vector<uint8_t> b = {200, 'a', 'b', 'c', 'd', 'e', 'f', 0xAA, 0xBB};
  RecordReader r(b);
  EXPECT_EQ(r.Text(0, 3), "abc");                            // length byte clamped to the width
  EXPECT_EQ(r.Text(0, 255), std::string("abcdef\xAA\xBB"));  // stops at the record's end
  EXPECT_EQ(r.Text(8, 10), "");                              // length byte 0xBB, nothing after it
  EXPECT_EQ(r.Text(9, 10), "");
  EXPECT_EQ(r.U32(7), 0xBBAAu);  // bytes past the end count as zero
  EXPECT_EQ(r.I64(9), 0);
  EXPECT_EQ(r.U8(std::numeric_limits<size_t>::max()), 0);
  EXPECT_EQ(r.I64(std::numeric_limits<size_t>::max() - 2), 0);
  EXPECT_EQ(r.Text(std::numeric_limits<size_t>::max(), 255), "");
  RecordReader empty(std::span<const uint8_t>{});
  EXPECT_EQ(empty.I32(0), 0);
  EXPECT_EQ(empty.Text(0, 255), "");
}

TEST(RecordTest, TextIsCutAtWholeUtf8Sequences) {
  struct Case { const char* text; size_t width; const char* stored; };
  const Case cases[] = {
      {"Grüße", 4, "Grü"},  // ü is two bytes and fits exactly
      {"Grüße", 3, "Gr"},  // ü would be split
      {"Grüße", 7, "Grüße"}, {"a€b", 3, "a"},  // three-byte sequence
      {"a€b", 4, "a€"},      {"x\xF0\x9F\x98\x80y", 4, "x"},  // four-byte sequence
      {"", 5, ""},
  };
  for (const auto& c : cases) {
    RecordWriter w(1 + c.width + 1);
    w.U8(1 + c.width, 0x55);  // the byte after the field stays untouched
    w.Text(0, c.width, c.text);
    const std::string stored = c.stored;
    std::vector<uint8_t> expected(1 + c.width + 1, 0);
    expected[0] = static_cast<uint8_t>(stored.size());
    std::copy(stored.begin(), stored.end(), expected.begin() + 1);
    expected.back() = 0x55;
    EXPECT_EQ(w.bytes(), expected) << c.text << " in " << c.width;
  }
  // Rewriting a field zero-fills its rest.
  RecordWriter w(12);
  w.Text(0, 10, "abcdefghij");
  w.Text(0, 10, "xy");
  EXPECT_EQ(w.bytes(), (std::vector<uint8_t>{2, 'x', 'y', 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(RecordTest, TextExactRefusesTooLongTextNamingFieldAndValue) {
  RecordWriter w(12);
  w.TextExact(0, 8, "12345678", "Zeit");
  const auto before = w.bytes();
  try {
    w.TextExact(0, 8, "123456789", "Zeit");
    FAIL() << "no exception";
  } catch (const FieldTooLong& e) {
    EXPECT_EQ(e.field(), "Zeit");
    EXPECT_EQ(e.value(), "123456789");
    EXPECT_NE(std::string(e.what()).find("Zeit"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("123456789"), std::string::npos);
  }
  EXPECT_EQ(w.bytes(), before);
}

TEST(RecordTest, WritesOutsideTheRecordAreRefusedAndChangeNothing) {
  RecordWriter w(8);
  EXPECT_THROW(w.I32(5, 1), std::out_of_range);
  EXPECT_THROW(w.I64(1, 1), std::out_of_range);
  EXPECT_THROW(w.U8(std::numeric_limits<size_t>::max(), 1), std::out_of_range);
  EXPECT_THROW(w.Text(0, 8, "a"), std::out_of_range);  // field needs 9 bytes
  EXPECT_THROW(w.Text(std::numeric_limits<size_t>::max(), 4, "a"), std::out_of_range);
  RecordWriter wide(300);
  EXPECT_THROW(wide.Text(0, 256, "a"), std::invalid_argument);
  EXPECT_EQ(w.bytes(), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(wide.bytes(), std::vector<uint8_t>(300, 0));
}

}  // namespace
}  // namespace kv::platform
