#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using Words = std::vector<std::string>;

struct SplitCase {
  const char* line;
  Words words;
};

TEST(ShellSplitTest, SplitsLikeAPosixShellWithoutExpansion) {
  const SplitCase cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"mount -t cifs", {"mount", "-t", "cifs"}},
      {"  a\t b \n c  ", {"a", "b", "c"}},
      {"'a b' c", {"a b", "c"}},
      {"\"a b\" c", {"a b", "c"}},
      {"x'y z'w", {"xy zw"}},
      {"''", {""}},
      {"a \"\" b", {"a", "", "b"}},
      {"a\\ b", {"a b"}},
      {"\\'quoted\\'", {"'quoted'"}},
      {"'it\\s'", {"it\\s"}},                   // no escapes inside single quotes
      {"\"\\$HOME \\\" \\\\ \\n\"", {"$HOME \" \\ \\n"}},  // only $ ` " \ newline escape
      {"$HOME ~ *.txt `id` #x", {"$HOME", "~", "*.txt", "`id`", "#x"}},
      {"a\\\nb", {"ab"}},                       // backslash-newline joins
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

TEST(SpawnWithInputTest, PassesStandardInputAndReturnsTheExitStatus) {
  test::TempTree tree;
  const std::string out = tree.Posix("got.txt");
  int rc = SpawnWithInput({"/bin/sh", "-c", "cat > \"$1\"; exit 7", "sh", out}, "anna\ngeh eim\n");
  EXPECT_EQ(rc, 7);
  EXPECT_EQ(tree.Read("got.txt"), "anna\ngeh eim\n");

  // Arguments are never seen by a shell: a word full of shell syntax arrives as it is.
  rc = SpawnWithInput({"/bin/sh", "-c", "printf %s \"$1\" > \"$2\"", "sh", "$(id); rm -rf x", out}, "");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(tree.Read("got.txt"), "$(id); rm -rf x");
}

TEST(SpawnWithInputTest, EmptyInputIsAnImmediateEndOfFile) {
  test::TempTree tree;
  int rc = SpawnWithInput({"/bin/sh", "-c", "wc -c > \"$1\"", "sh", tree.Posix("n.txt")}, "");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(std::stoi(tree.Read("n.txt")), 0);
}

TEST(SpawnWithInputTest, AProgramThatDoesNotReadItsInputDoesNotHurtTheCaller) {
  // More than a pipe holds, to a program that is gone at once: the writer must
  // neither block for ever nor die of SIGPIPE.
  std::string big(1 << 20, 'x');
  EXPECT_EQ(SpawnWithInput({"/bin/sh", "-c", "exit 3"}, big), 3);
}

TEST(SpawnWithInputTest, FailuresToStartAndSignalsGiveMinusOne) {
  EXPECT_EQ(SpawnWithInput({"/nonexistent/program"}, ""), -1);
  EXPECT_EQ(SpawnWithInput({}, ""), -1);
  EXPECT_EQ(SpawnWithInput({"/bin/sh", "-c", "kill -9 $$"}, ""), -1);
  // PATH is searched for a bare name.
  EXPECT_EQ(SpawnWithInput({"true"}, ""), 0);
}

}  // namespace
}  // namespace kv::platform
