// Folders reached from a root without following links: the one way the copy
// engine reaches the files of a pair.
#include "platform/treefolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/errors.h"
#include "platform/files.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using kv::test::ScopedRegistry;
using kv::test::TempTree;

class TreeFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Write("root/real/sub/file.txt", "inside");
    tree_.Write("outside/victim.txt", "outside");
    ASSERT_EQ(symlink(tree_.Posix("outside").c_str(), tree_.Posix("root/link").c_str()), 0);
    root_ = TreeFolder::OpenRoot(tree_.WinFolder("root"), false);
    ASSERT_TRUE(root_.IsOpen()) << SysErrorMessage(GetLastError());
  }

  ScopedRegistry registry_;
  TempTree tree_;
  TreeFolder root_;
};

TEST_F(TreeFolderTest, FoldersBelowTheRootAreNeverReachedThroughALinkOrADotName) {
  EXPECT_TRUE(root_.OpenFolder("real\\sub\\", false).IsOpen());
  EXPECT_TRUE(root_.OpenFolder("", false).IsOpen());
  struct Case {
    const char* rel;
    bool create;
    int error;
  } cases[] = {
      {"link\\", false, ELOOP},     {"link\\", true, ELOOP},      {"link\\made\\", true, ELOOP},
      {"real\\..\\..\\", false, EINVAL}, {"..\\outside\\", true, EINVAL}, {".\\real\\", false, EINVAL},
      {"missing\\", false, ENOENT}, {"real\\sub\\file.txt\\", false, ENOTDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rel);
    EXPECT_FALSE(root_.OpenFolder(c.rel, c.create).IsOpen());
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_FALSE(tree_.Exists("outside/made"));
  EXPECT_TRUE(root_.OpenFolder("new\\deeper\\", true).IsOpen());
  EXPECT_TRUE(tree_.Exists("root/new/deeper"));
}

// Once open, a folder stays the folder it was: swapping its path for a link
// afterwards leads nothing outside.
TEST_F(TreeFolderTest, AnOpenFolderStaysTheFolderItWas) {
  const TreeFolder sub = root_.OpenFolder("real\\sub\\", false);
  ASSERT_TRUE(sub.IsOpen());
  ASSERT_EQ(rename(tree_.Posix("root/real").c_str(), tree_.Posix("root/moved").c_str()), 0);
  ASSERT_EQ(symlink(tree_.Posix("outside").c_str(), tree_.Posix("root/real").c_str()), 0);
  EXPECT_TRUE(sub.Remove("file.txt"));
  EXPECT_FALSE(tree_.Exists("root/moved/sub/file.txt"));
  EXPECT_EQ(tree_.Read("outside/victim.txt"), "outside");
  EXPECT_FALSE(root_.OpenFolder("real\\sub\\", false).IsOpen());
}

TEST_F(TreeFolderTest, EntriesAreNeverChangedThroughALink) {
  ASSERT_EQ(chmod(tree_.Posix("outside/victim.txt").c_str(), 0444), 0);
  ASSERT_EQ(symlink(tree_.Posix("outside/victim.txt").c_str(), tree_.Posix("root/to-file").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", tree_.Posix("root/dangling").c_str()), 0);

  FileStatus st;
  ASSERT_TRUE(root_.Status("to-file", st));  // as the scans see it: the file
  EXPECT_TRUE(st.isFile && st.size == 7);
  ASSERT_TRUE(root_.Status("dangling", st));
  EXPECT_TRUE(st.isLink && !st.isFile && !st.isFolder);
  ASSERT_TRUE(root_.Status("link", st));
  EXPECT_TRUE(st.isLink && !st.isFolder);

  EXPECT_TRUE(root_.ClearReadOnly("to-file"));
  EXPECT_FALSE(root_.OpenForWriting("to-file").IsOpen());
  EXPECT_EQ(GetLastError(), ELOOP);
  EXPECT_FALSE(root_.RemoveFolder("link"));
  EXPECT_EQ(GetLastError(), ENOTDIR);
  EXPECT_TRUE(root_.Remove("to-file"));
  struct stat victim {};
  ASSERT_EQ(stat(tree_.Posix("outside/victim.txt").c_str(), &victim), 0);
  EXPECT_EQ(victim.st_mode & 0777, 0444u);
  for (const char* bad : {"..", ".", "", "a/b"}) {
    EXPECT_FALSE(root_.Remove(bad)) << bad;
    EXPECT_EQ(GetLastError(), EINVAL);
  }
}

TEST_F(TreeFolderTest, RenamesReplaceOnlyWhenAsked) {
  const TreeFolder sub = root_.OpenFolder("real\\sub\\", false);
  tree_.Write("root/real/sub/other.txt", "other");
  EXPECT_FALSE(sub.Rename("other.txt", "file.txt", false));
  EXPECT_EQ(GetLastError(), EEXIST);
  EXPECT_EQ(tree_.Read("root/real/sub/file.txt"), "inside");
  EXPECT_TRUE(sub.Rename("other.txt", "file.txt", true));
  EXPECT_EQ(tree_.Read("root/real/sub/file.txt"), "other");
}

// A temporary file of the system's own is private and held while it is
// open: no clean-up takes it for a leftover then, and one does afterwards.
TEST_F(TreeFolderTest, TemporaryFilesAreHeldWhileOpen) {
  std::string name;
  FileHandle temp = root_.CreateTemporary(name);
  ASSERT_TRUE(temp.IsOpen());
  EXPECT_TRUE(IsSystemTempName(name)) << name;
  struct stat st {};
  ASSERT_EQ(stat(tree_.Posix("root/" + name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string second;
  EXPECT_TRUE(root_.CreateTemporary(second).IsOpen());
  EXPECT_NE(name, second);

  EXPECT_FALSE(RemoveStaleTemporary(tree_.WinFolder("root"), name));
  EXPECT_TRUE(tree_.Exists("root/" + name));
  ASSERT_TRUE(temp.Close());
  EXPECT_TRUE(RemoveStaleTemporary(tree_.WinFolder("root"), name));
  EXPECT_FALSE(tree_.Exists("root/" + name));
  EXPECT_FALSE(RemoveStaleTemporary(tree_.WinFolder("root"), "file.txt"));  // not one of ours
  for (const char* other : {".kvtmp-", ".kvtmp-abcdefghi!", "kvtmp-abcdefghij", ".kvtmp-abcdefghijk"})
    EXPECT_FALSE(IsSystemTempName(other)) << other;
}

}  // namespace
}  // namespace kv::platform
