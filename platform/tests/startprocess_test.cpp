// Programs started without waiting: working folder, standard input, reaping,
// start failures with the system's reason, and documents handed to xdg-open.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "platform/errors.h"
#include "platform/process.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

constexpr int kDeadlineMs = 60000;

TEST(StartProcess, RunsInItsFolderWithoutInputAndIsReaped) {
  test::TempTree tree;
  tree.Mkdir("work dir");
  // Standard input is /dev/null: "cat" ends at once instead of waiting.
  const std::optional<StartedProcess> child =
      StartProcess({"/bin/sh", "-c", "pwd > out.txt; cat >> out.txt; exit 7"}, tree.Posix("work dir"));
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->WaitForExit(kDeadlineMs));
  EXPECT_EQ(child->ExitStatus(), 7);
  EXPECT_EQ(tree.Read("work dir/out.txt"), tree.Posix("work dir") + "\n");
  EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(child->Pid())));  // no zombie
}

TEST(StartProcess, FailsWithTheSystemsReason) {
  test::TempTree tree;
  tree.Write("plain.txt", "no program");
  struct Case {
    std::vector<std::string> argv;
    std::string folder;
    int error;
  };
  const std::vector<Case> cases = {
      {{"kv-no-such-program-in-path"}, "", ENOENT},
      {{"/bin/true"}, tree.Posix("no folder"), ENOENT},
      {{tree.Posix("plain.txt")}, "", EACCES},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(StartProcess(c.argv, c.folder)) << c.argv[0];
    EXPECT_EQ(GetLastError(), c.error) << c.argv[0];
  }
}

TEST(ShellOpen, HandsDocumentsAndFoldersToXdgOpen) {
  test::TempTree tree;
  tree.Write("bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + tree.Posix("opened") + "\"\n");
  chmod(tree.Posix("bin/xdg-open").c_str(), 0755);
  test::ScopedEnv path{"PATH", (tree.Posix("bin") + ":/usr/bin:/bin").c_str()};
  tree.Write("doc/Bericht.txt", "text");
  for (const std::string& document : {tree.Posix("doc/Bericht.txt"), tree.Posix("doc")}) {
    const std::optional<StartedProcess> opener = ShellOpen({document, "ignored"}, "");
    ASSERT_TRUE(opener);
    ASSERT_TRUE(opener->WaitForExit(kDeadlineMs));
  }
  EXPECT_EQ(tree.Read("opened"), tree.Posix("doc/Bericht.txt") + "\n" + tree.Posix("doc") + "\n");
}

}  // namespace
}  // namespace kv::platform
