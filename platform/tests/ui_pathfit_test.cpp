// Shortening paths by characters, as models show them without a font.
#include "platform/ui/pathfit.h"

#include <gtest/gtest.h>

#include <string>

namespace kv::platform::ui {
namespace {

int Chars(const std::string& s) {
  int n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

struct FitCase {
  const char* path;
  int maxChars;
  const char* expected;
};

// Widths of the candidates were counted by hand, e.g. for kDeep:
// whole 35, one folder left out 33, two 24, three 20, all 15, without the
// drive 12, the name 8.
constexpr const char* kDeep = R"(C:\Daten\Projekte\Alt\deep\file.txt)";
constexpr FitCase kFitCases[] = {
    {kDeep, 35, kDeep}, {kDeep, 34, R"(C:\...\Projekte\Alt\deep\file.txt)"},
    {kDeep, 32, R"(C:\...\Alt\deep\file.txt)"}, {kDeep, 23, R"(C:\...\deep\file.txt)"},
    {kDeep, 19, R"(C:\...\file.txt)"}, {kDeep, 14, R"(...\file.txt)"}, {kDeep, 11, "file.txt"},
    {kDeep, 7, "file..."}, {kDeep, 3, "..."}, {kDeep, 2, ""},
    // A folder keeps its last folder and its trailing backslash.
    {R"(C:\Daten\Projekte\deep\)", 15, R"(C:\...\deep\)"},
    // A share root counts as the drive.
    {R"(\\srv\freigabe\Abteilung\Vertrieb\bericht.doc)", 45, R"(\\srv\freigabe\Abteilung\Vertrieb\bericht.doc)"},
    {R"(\\srv\freigabe\Abteilung\Vertrieb\bericht.doc)", 40, R"(\\srv\freigabe\...\Vertrieb\bericht.doc)"},
    // Leaving out one-letter folders makes it longer: go straight to the name.
    {R"(\\srv\freigabe\a\b\bericht.doc)", 26, R"(...\bericht.doc)"},
    {R"(C:\file.txt)", 10, "file.txt"},
    {"Bericht.txt", 8, "Beric..."},
    // Widths are characters, and a cut never splits one.
    {"C:\\\xC3\x9C" "bersicht\\Gr\xC3\xB6\xC3\x9F" "e\\\xC3\xA4.txt", 20,
     "C:\\...\\Gr\xC3\xB6\xC3\x9F" "e\\\xC3\xA4.txt"},
    {"C:\\x\\\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F.txt", 6, "\xC3\x84\xC3\x96\xC3\x9C..."},
    {"", 0, ""},
};

TEST(PathFit, ShortensByCharacters) {
  for (const FitCase& c : kFitCases) {
    SCOPED_TRACE(std::string(c.path) + " in " + std::to_string(c.maxChars));
    const std::string result = MinimizeNameChars(c.path, c.maxChars);
    EXPECT_EQ(result, c.expected);
    EXPECT_LE(Chars(result), c.maxChars);
  }
}

TEST(PathFit, MeasuresWithTheGivenFunction) {
  // Every character two units wide, "\" four: the whole path is 15*2 + 2*4 = 38,
  // "C:\...\file.txt" 13*2 + 2*4 = 34, "...\file.txt" 11*2 + 4 = 26. Counted in
  // characters the whole path (17) would fit either width.
  const TextMeasure measure = [](std::string_view text) {
    int width = 0;
    for (char c : text) width += c == '\\' ? 4 : 2;
    return width;
  };
  EXPECT_EQ(MinimizeName(R"(C:\Daten\file.txt)", 38, measure), R"(C:\Daten\file.txt)");
  EXPECT_EQ(MinimizeName(R"(C:\Daten\file.txt)", 34, measure), R"(C:\...\file.txt)");
  EXPECT_EQ(MinimizeName(R"(C:\Daten\file.txt)", 33, measure), R"(...\file.txt)");
}

}  // namespace
}  // namespace kv::platform::ui
