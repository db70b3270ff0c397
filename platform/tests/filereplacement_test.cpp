// New content for a file, put under its name only when complete.
#include "platform/filereplacement.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/files.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

// A writer killed (SIGKILL) half-way leaves a file of the system's own
// temporary names: held while the writer lives, never listed as data, and
// removed by the clean-up once the writer is gone. The target is untouched.
TEST(FileReplacement, AKilledWritersLeftoverIsASystemTemporaryThatTheCleanUpRemoves) {
  kv::test::ScopedRegistry registry;
  kv::test::TempTree tree;
  tree.Write("data/target.txt", "old content");
  const std::string folder = tree.WinFolder("data");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileReplacement replacement;
    if (!replacement.Begin(tree.Win("data/target.txt")) || !replacement.Stream().Write("half", 4)) _exit(1);
    (void)!write(ready[1], "w", 1);
    for (;;) pause();  // still writing, as far as anyone can tell
  }
  close(ready[1]);
  char byte;
  const bool writing = read(ready[0], &byte, 1) == 1;
  const std::vector<std::string> whileAlive = ListFolder(folder).temporaries;
  const bool held = whileAlive.size() == 1 && !RemoveStaleTemporary(folder, whileAlive[0]);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  ASSERT_TRUE(writing);
  EXPECT_TRUE(held);

  const FolderListing listing = ListFolder(folder);
  ASSERT_EQ(listing.temporaries.size(), 1u);
  EXPECT_TRUE(IsSystemTempName(listing.temporaries[0])) << listing.temporaries[0];
  EXPECT_EQ(listing.entries.size(), 1u);  // the target alone
  EXPECT_TRUE(RemoveStaleTemporary(folder, listing.temporaries[0]));
  EXPECT_TRUE(ListFolder(folder).temporaries.empty());
  EXPECT_EQ(tree.Read("data/target.txt"), "old content");
}

}  // namespace
}  // namespace kv::platform
