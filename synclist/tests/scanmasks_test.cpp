// Mask texts as the profile holds them.
#include "synclist/scanmasks.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>


namespace kv {
namespace {

struct ParseCase {
  const char* text;
  const char* defaultMask;
  std::vector<std::string> masks;
};

class ParseMaskTextTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseMaskTextTest, SplitsAsTheProfileMeansIt) {
  EXPECT_EQ(ParseMaskText(GetParam().text, GetParam().defaultMask), GetParam().masks);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseMaskTextTest,
    ::testing::Values(ParseCase{"", "*", {"*"}}, ParseCase{"", "", {}}, ParseCase{" ,, ; ", "*", {"*"}},
                      ParseCase{"*.doc;*.txt", "*", {"*.doc", "*.txt"}},
                      ParseCase{"a:b,c;d", "", {"a", "b", "c", "d"}},
                      // A blank ends an unquoted item; quotes keep blanks and commas.
                      ParseCase{"my file.txt", "", {"my", "file.txt"}},
                      ParseCase{"\"my file.txt\",\"x,y\"", "", {"my file.txt", "x,y"}},
                      ParseCase{"\"say \"\"hi\"\"\"", "", {"say \"hi\""}},
                      ParseCase{"  *.tmp  ,  ~*  ", "", {"*.tmp", "~*"}},
                      ParseCase{"sub\\temp\\;cache\\", "", {"sub\\temp\\", "cache\\"}}));

struct MatchCase {
  const char* text;
  std::vector<std::string> masks;
  bool matches;
};

class MatchesAnyMaskTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchesAnyMaskTest, MatchesTheWholeTextIgnoringCase) {
  EXPECT_EQ(MatchesAnyMask(GetParam().text, GetParam().masks), GetParam().matches) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Names, MatchesAnyMaskTest,
    ::testing::Values(MatchCase{"REPORT.TMP", {"*.doc", "*.tmp"}, true}, MatchCase{"report.tmp~", {"*.tmp"}, false},
                      MatchCase{"README", {"*.*"}, false}, MatchCase{"x", {}, false},
                      MatchCase{"b1.txt", {"[abc]?.txt"}, true}, MatchCase{"d1.txt", {"[!abc]?.txt"}, true},
                      MatchCase{"a1.txt", {"[!abc]?.txt"}, false}, MatchCase{"[ab.txt", {"[ab.txt"}, true},
                      MatchCase{"sub\\Temp\\", {"*\\temp\\"}, true}));

}  // namespace
}  // namespace kv
