#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using Words = std::vector<std::string>;

struct SplitCase { const char* line; Words words; };

TEST(ShellSplitTest, SplitsLikeAPosixShellWithoutExpansion) {
  const SplitCase cases[] = {
      {"", {}}, {"   \t ", {}}, {"mount -t cifs", {"mount", "-t", "cifs"}}, {"  a\t b \n c  ", {"a", "b", "c"}},
      {"'a b' c", {"a b", "c"}}, {"\"a b\" c", {"a b", "c"}}, {"x'y z'w", {"xy zw"}}, {"''", {""}},
      {"a \"\" b", {"a", "", "b"}}, {"a\\ b", {"a b"}}, {"\\'quoted\\'", {"'quoted'"}},
      {"'it\\s'", {"it\\s"}},  // no escapes inside single quotes
      {"\"\\$HOME \\\" \\\\ \\n\"", {"$HOME \" \\ \\n"}},  // only $ ` " \ newline escape
      {"$HOME ~ *.txt `id` #x", {"$HOME", "~", "*.txt", "`id`", "#x"}},
      {"a\\\nb", {"ab"}},  // backslash-newline joins
      {"\"a\\\nb\"", {"ab"}},
      {"/bin/sh '/tmp/con nect/fake.sh'", {"/bin/sh", "/tmp/con nect/fake.sh"}},
  };
  for (const SplitCase& c : cases) {
    std::optional<Words> got = ShellSplit(c.line);
    ASSERT_TRUE(got.has_value()) << c.line;
    EXPECT_EQ(*got, c.words) << c.line;
  }
}

TEST(ShellSplitTest, RefusesUnclosedQuotesAndATrailingBackslash) {
  for (const char* line : {"'open", "a \"open", "x\\", "\"a\\\""}) {
    EXPECT_FALSE(ShellSplit(line).has_value()) << line;
  }
}

TEST(SpawnWithInputTest, FeedsStandardInputAndReportsTheExitStatus) {
  test::TempTree tree;
  const std::string out = tree.Posix("out");
  const struct {
    const char* what;
    Words argv;
    std::string input;
    int status;
    const char* written;  // to out, when not nullptr
  } cases[] = {
      {"input reaches the program", {"/bin/sh", "-c", "cat > \"$1\"; exit 7", "sh", out}, "anna\ngeh eim\n", 7,
       "anna\ngeh eim\n"},
      {"no shell sees the words", {"/bin/sh", "-c", "printf %s \"$1\" > \"$2\"", "sh", "$(id); rm -rf x", out}, "", 0,
       "$(id); rm -rf x"},
      {"empty input is an immediate end of file", {"/bin/sh", "-c", "wc -c > \"$1\"", "sh", out}, "", 0, "0\n"},
      // More than a pipe holds, to a program that is gone at once: the writer
      // must neither block for ever nor die of SIGPIPE.
      {"input not read", {"/bin/sh", "-c", "exit 3"}, std::string(1 << 20, 'x'), 3, nullptr},
      {"missing program", {"/nonexistent/program"}, "", -1, nullptr},
      {"no words", {}, "", -1, nullptr},
      {"killed by a signal", {"/bin/sh", "-c", "kill -9 $$"}, "", -1, nullptr},
      {"PATH is searched for a bare name", {"true"}, "", 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(SpawnWithInput(c.argv, c.input), c.status);
    if (c.written) {
      EXPECT_EQ(tree.Read("out"), c.written);
    }
  }
}

}  // namespace
}  // namespace kv::platform
