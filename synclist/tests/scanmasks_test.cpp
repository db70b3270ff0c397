// Mask texts as the profile holds them.
#include "synclist/scanmasks.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(ParseMaskText, SplitsAsTheProfileMeansIt) {
  struct Case {
    const char* text;
    const char* defaultMask;
    std::vector<std::string> masks;
  };
  const Case cases[] = {
      {"", "*", {"*"}},
      {"", "", {}},
      {" ,, ; ", "*", {"*"}},
      {"*.doc;*.txt", "*", {"*.doc", "*.txt"}},
      {"a:b,c;d", "", {"a", "b", "c", "d"}},
      // A blank ends an unquoted item; quotes keep blanks and commas.
      {"my file.txt", "", {"my", "file.txt"}},
      {"\"my file.txt\",\"x,y\"", "", {"my file.txt", "x,y"}},
      {"\"say \"\"hi\"\"\"", "", {"say \"hi\""}},
      {"  *.tmp  ,  ~*  ", "", {"*.tmp", "~*"}},
      {"sub\\temp\\;cache\\", "", {"sub\\temp\\", "cache\\"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseMaskText(c.text, c.defaultMask), c.masks) << c.text;
  EXPECT_TRUE(MatchesAnyMask("REPORT.TMP", {"*.doc", "*.tmp"}));
  EXPECT_FALSE(MatchesAnyMask("x", {}));
}

}  // namespace
}  // namespace kv
