// The string formats against Python's base64/binascii and the registry.
#include <gtest/gtest.h>

#include <sstream>

#include "crypto/cryptconst.h"
#include "crypto/protection.h"
#include "crypto/stringformat.h"
#include "crypto/tests/cryptotest.h"
#include "platform/text.h"

namespace kv::crypto::test {
namespace {

std::string Encode(int32_t format, std::string_view bytes) { return BytesToFormat(bytes, format); }
std::string Decode(int32_t format, std::string_view text) { return FormatToBytes(text, format); }

TEST(StringFormats, AgreeWithPythonBothWays) {
  std::mt19937 random(5);
  std::vector<std::string> inputs;
  for (int i = 0; i < 300; ++i) inputs.push_back(RandomBytes(random, random() % 201));
  std::vector<std::string> lines;
  for (const std::string& input : inputs) lines.push_back(Hex(input));
  const std::vector<std::string> expected = OracleLines(PythonOracle("formats {}"), lines);
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::vector<std::string> texts;
    std::istringstream fields(expected[i] + "\t");
    for (std::string field; std::getline(fields, field, '\t');) texts.push_back(field);
    ASSERT_EQ(texts.size(), 4u) << expected[i];
    const std::pair<int32_t, std::string> cases[] = {
        {kFormatHEXL, texts[0]},   {kFormatHEX, platform::UpperCaseAscii(texts[0])},
        {kFormatMIME64, texts[1]}, {kFormatUU, texts[2]},
        {kFormatXX, texts[3]},     {kFormatCopy, inputs[i]}};
    for (const auto& [format, text] : cases) {
      ASSERT_EQ(Encode(format, inputs[i]), text) << "format " << format << ", " << inputs[i].size() << " bytes";
      ASSERT_EQ(Hex(Decode(format, text)), Hex(inputs[i])) << "format " << format << ": " << text;
    }
  }
}

// What the other programs do not write: prefixes, separators, line breaks.
TEST(StringFormats, ReadsPrefixesAndSeparators) {
  for (int32_t format : {kFormatHEX, kFormatHEXL}) {
    // A prefix throws away what came before it; others, blanks and dashes are skipped.
    for (const char* text : {"0x1fa0", "$1F A0", "1f-a0", "0X1F$A0", "1FA0A"}) {
      EXPECT_EQ(Hex(Decode(format, text)), "1fa0") << text;
    }
  }
  EXPECT_EQ(Decode(kFormatDefault, "YW\r\nJj"), "abc");
  EXPECT_EQ(Encode(kFormatNone, "abc"), "");
}

// Decoding never reads or writes outside its input and result: base 64
// gives at most three quarters of the text, UU and XX refuse a length
// character that promises more than the text holds.
TEST(StringFormats, HostileText) {
  const std::pair<const char*, const char*> base64[] = {{"====", ""},   {"A===", ""}, {"=", ""},         {"A", ""},
                                                        {"=QQ=", "01"}, {"YQ", "61"}, {"YQ==YQ", "6161"}};
  for (const auto& [text, hex] : base64) {
    EXPECT_EQ(Hex(TStringFormat_MIME64::Class()->DecodeText(text, -1)), hex) << text;
  }
  for (TStringFormatClass uu : {TStringFormat_UU::Class(), TStringFormat_XX::Class()}) {
    const std::string line = Encode(uu->FormatNumber(), std::string(45, 'q'));
    const std::string message = FormatText(sInvalidStringFormat, {uu->FormatName()});
    for (size_t cut : {size_t{1}, size_t{2}, size_t{5}, line.size() - 1}) {
      const std::string text = line.substr(0, cut);
      EXPECT_FALSE(uu->IsValid(text.data(), static_cast<int32_t>(text.size()), true)) << cut;
      EXPECT_EQ(Failure<EStringFormat>([&] { uu->DecodeText(text.data(), static_cast<int32_t>(text.size())); }),
                message)
          << "cut after " << cut;
    }
    EXPECT_THROW(uu->DecodeText(" M", -1), EStringFormat);  // a blank where the length goes
  }
  std::mt19937 random(9);
  const std::string junk = RandomBytes(random, 1 << 20);
  for (int32_t format : {kFormatHEX, kFormatHEXL, kFormatMIME64, kFormatUU, kFormatXX}) {
    TStringFormatClass f = FindStringFormat(format);
    EXPECT_THROW(Decode(format, junk), EStringFormat);
    try {
      EXPECT_LE(f->DecodeText(junk.data(), static_cast<int32_t>(junk.size())).size(), junk.size() * 3 / 4);
    } catch (const EStringFormat&) {
    }
  }
}

// A format that names itself by its class name.
class TStringFormat_Replacement : public TStringFormat_HEX {
 public:
  static TStringFormatClass Class() {
    static const TStringFormat_Replacement format;
    return &format;
  }
  std::string FormatName() const override { return TStringFormat::FormatName(); }
  std::string_view ClassName() const override { return "TStringFormat_Replacement"; }
};

TEST(StringFormats, Registry) {
  const int32_t order[] = {kFormatCopy, kFormatHEX, kFormatHEXL, kFormatMIME64, kFormatUU, kFormatXX};
  for (int32_t number : order) ASSERT_NE(FindStringFormat(number), nullptr) << number;
  EXPECT_EQ(FindStringFormat(kFormatDefault), TStringFormat_MIME64::Class());
  EXPECT_EQ(FindStringFormat(kFormatCopy)->FormatName(), "copy Input to Output");
  EXPECT_EQ(FindStringFormat(kFormatXX)->FormatName(), "XX Coding");

  // Another class with a registered number takes that class's place.
  RegisterStringFormats({TStringFormat_Replacement::Class()});
  EXPECT_EQ(FindStringFormat(kFormatHEX), TStringFormat_Replacement::Class());
  EXPECT_EQ(FindStringFormat(kFormatHEX)->FormatName(), "Replacement");
  RegisterStringFormats({TStringFormat_HEX::Class()});
  EXPECT_EQ(FindStringFormat(kFormatHEX), TStringFormat_HEX::Class());

  EXPECT_EQ(Failure<EStringFormat>([] { Encode(77, "x"); }), "String Format \"77\" not exists.");
  EXPECT_EQ(Failure<EStringFormat>([] { Decode(kFormatHEX, "12 G4"); }), "Input is not an valid Hexadecimal Format.");
}

}  // namespace
}  // namespace kv::crypto::test
