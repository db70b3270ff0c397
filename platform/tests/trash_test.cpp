#include "platform/trash.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "testsupport/commands.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using kv::test::IsRoot;
using kv::test::RunUnprivileged;
using kv::test::ScopedEnv;
using kv::test::ScopedRegistry;
using kv::test::ScopedTmpfs;
using kv::test::TempTree;

// The original paths that trash-list reports below a folder.
std::set<std::string> ListedBelow(const std::string& folder) {
  std::set<std::string> paths;
  std::istringstream lines(kv::test::RunCommand("trash-list 2>/dev/null"));
  for (std::string line; std::getline(lines, line);) {
    // "YYYY-MM-DD HH:MM:SS /original/path"
    if (line.size() > 20 && line.compare(20, folder.size() + 1, folder + "/") == 0) paths.insert(line.substr(20));
  }
  return paths;
}

std::string Field(const std::string& info, const std::string& key) {
  const std::string start = "\n" + key + "=";
  const size_t at = ("\n" + info).find(start);
  if (at == std::string::npos) return "<missing>";
  const size_t value = at + start.size() - 1;
  const size_t end = info.find('\n', value);
  return end == std::string::npos ? "<missing>" : info.substr(value, end - value);
}

time_t LocalSeconds(const std::string& date) {
  struct tm tm {};
  const char* end = strptime(date.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
  if (!end || *end != '\0') return -1;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

class TrashTest : public ::testing::Test {
 protected:
  TrashTest() : dataHome_("XDG_DATA_HOME", tree_.Posix("data").c_str()) {}

  std::string HomeTrash(std::string_view rel) const { return tree_.Posix("data/Trash/" + std::string(rel)); }

  ScopedRegistry registry_;
  TempTree tree_;
  ScopedEnv dataHome_;
};

TEST_F(TrashTest, HomeTrashTakesAFileWithItsOriginalPathAndDate) {
  const std::string name = "Bericht für 100% (final).txt";
  tree_.Write("docs/" + name, "content");
  const time_t before = time(nullptr);
  TrashedFile where;
  ASSERT_TRUE(MoveToTrash(tree_.Win("docs/" + name), &where)) << SysErrorMessage(GetLastError());
  const time_t after = time(nullptr);

  EXPECT_FALSE(tree_.Exists("docs/" + name));
  EXPECT_EQ(where.trashFolder, tree_.Posix("data/Trash"));
  EXPECT_EQ(where.name, name);
  EXPECT_EQ(tree_.Read("data/Trash/files/" + name), "content");
  const std::string info = tree_.Read("data/Trash/info/" + name + ".trashinfo");
  EXPECT_EQ(info.rfind("[Trash Info]\n", 0), 0u) << info;
  EXPECT_EQ(Field(info, "Path"), tree_.Posix("docs") + "/Bericht%20f%C3%BCr%20100%25%20%28final%29.txt");
  const std::string date = Field(info, "DeletionDate");
  EXPECT_EQ(date.size(), 19u) << date;  // "YYYY-MM-DDThh:mm:ss", strictly read below
  EXPECT_GE(LocalSeconds(date), before);
  EXPECT_LE(LocalSeconds(date), after);

  EXPECT_EQ(ListedBelow(tree_.Posix("docs")), std::set<std::string>{tree_.Posix("docs/" + name)});
  struct stat st;
  ASSERT_EQ(stat(HomeTrash("").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(TrashTest, NameClashesGetTheNextFreeName) {
  for (const char* folder : {"a", "b", "c"}) tree_.Write(std::string(folder) + "/x.txt", folder);
  // A file in files/ without its info file still holds its name.
  tree_.Write("data/Trash/files/y.txt", "orphan");
  tree_.Mkdir("data/Trash/info");
  tree_.Write("d/y.txt", "d");

  std::vector<std::string> names;
  for (const char* path : {"a/x.txt", "b/x.txt", "c/x.txt", "d/y.txt"}) {
    TrashedFile where;
    ASSERT_TRUE(MoveToTrash(tree_.Win(path), &where)) << path << ": " << SysErrorMessage(GetLastError());
    names.push_back(where.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"x.txt", "x.2.txt", "x.3.txt", "y.2.txt"}));
  EXPECT_EQ(tree_.Read("data/Trash/files/x.2.txt"), "b");
  EXPECT_EQ(tree_.Read("data/Trash/files/y.txt"), "orphan");
  EXPECT_FALSE(tree_.Exists("data/Trash/info/y.txt.trashinfo"));
  EXPECT_EQ(Field(tree_.Read("data/Trash/info/x.3.txt.trashinfo"), "Path"), tree_.Posix("c/x.txt"));
  EXPECT_EQ(ListedBelow(tree_.Posix()),
            (std::set<std::string>{tree_.Posix("a/x.txt"), tree_.Posix("b/x.txt"), tree_.Posix("c/x.txt"),
                                   tree_.Posix("d/y.txt")}));
}

TEST_F(TrashTest, LongNameIsCutToFitTheInfoFile) {
  // 250 bytes: with ".trashinfo" 260, over the 255 a name may have. 241
  // bytes of the stem remain, which would end inside the "ä".
  const std::string name = std::string(240, 'n') + "äöü.dat";
  tree_.Write(name, "long");
  TrashedFile where;
  ASSERT_TRUE(MoveToTrash(tree_.Win(name), &where)) << SysErrorMessage(GetLastError());
  EXPECT_LE(where.name.size() + 10, 255u);
  EXPECT_EQ(where.name, std::string(240, 'n') + ".dat");
  EXPECT_EQ(tree_.Read("data/Trash/files/" + where.name), "long");
}

TEST_F(TrashTest, LinkGoesAsALinkAndItsTargetStays) {
  tree_.Write("target.txt", "keep");
  ASSERT_EQ(symlink(tree_.Posix("target.txt").c_str(), tree_.Posix("link.txt").c_str()), 0);
  ASSERT_TRUE(MoveToTrash(tree_.Win("link.txt"))) << SysErrorMessage(GetLastError());
  EXPECT_FALSE(tree_.Exists("link.txt"));
  EXPECT_EQ(tree_.Read("target.txt"), "keep");
  struct stat st;
  ASSERT_EQ(lstat(HomeTrash("files/link.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(TrashTest, RefusesWhatItCannotTake) {
  tree_.Mkdir("folder");
  EXPECT_FALSE(MoveToTrash(tree_.Win("folder")));
  EXPECT_EQ(GetLastError(), EISDIR);
  EXPECT_TRUE(tree_.Exists("folder"));
  EXPECT_FALSE(MoveToTrash(tree_.Win("missing.txt")));
  EXPECT_EQ(GetLastError(), ENOENT);
  EXPECT_FALSE(MoveToTrash(std::string_view("Q:\\nowhere\\x.txt")));
}

TEST_F(TrashTest, UnwritableHomeTrashFailsAndTheFileStays) {
  tree_.Write("f.txt", "stays");
  if (IsRoot()) {
    ASSERT_EQ(chown(tree_.Posix().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(tree_.Posix("f.txt").c_str(), 65534, 65534), 0);
  }
  tree_.Mkdir("data");
  ASSERT_EQ(chmod(tree_.Posix("data").c_str(), 0555), 0);  // root-owned when run as root
  const std::string file = tree_.Posix("f.txt");
  const int rc = RunUnprivileged([&] {
    if (MoveToTrashPosix(file)) return 1;
    return GetLastError() == EACCES ? 0 : 2;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(tree_.Read("f.txt"), "stays");
}

class TrashOnMountTest : public TrashTest {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
    mount_ = std::make_unique<ScopedTmpfs>(tree_.Posix("mnt"));
    if (!mount_->mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << SysErrorMessage(errno);
    tree_.Write("mnt/sub/f.txt", "on the mount");
  }
  void TearDown() override { mount_.reset(); }

  std::unique_ptr<ScopedTmpfs> mount_;
};

TEST_F(TrashOnMountTest, FileGoesToTheMountsOwnTrash) {
  TrashedFile where;
  ASSERT_TRUE(MoveToTrash(tree_.Win("mnt/sub/f.txt"), &where)) << SysErrorMessage(GetLastError());
  EXPECT_EQ(where.trashFolder, tree_.Posix("mnt/.Trash-0"));
  EXPECT_EQ(tree_.Read("mnt/.Trash-0/files/f.txt"), "on the mount");
  EXPECT_EQ(Field(tree_.Read("mnt/.Trash-0/info/f.txt.trashinfo"), "Path"), "sub/f.txt");
  EXPECT_FALSE(tree_.Exists("data/Trash"));
  struct stat st;
  ASSERT_EQ(lstat(tree_.Posix("mnt/.Trash-0").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(ListedBelow(tree_.Posix("mnt")), std::set<std::string>{tree_.Posix("mnt/sub/f.txt")});
}

TEST_F(TrashOnMountTest, SharedTrashOnlyWhenStickyAndReal) {
  struct Case {
    const char* what;
    void (*prepare)(const TempTree&);
    const char* expected;
  } cases[] = {
      {"sticky folder", [](const TempTree& t) { t.Mkdir("mnt/.Trash"); chmod(t.Posix("mnt/.Trash").c_str(), 01777); },
       "mnt/.Trash/0"},
      {"no sticky bit", [](const TempTree& t) { t.Mkdir("mnt/.Trash"); chmod(t.Posix("mnt/.Trash").c_str(), 0777); },
       "mnt/.Trash-0"},
      {"link to a sticky folder",
       [](const TempTree& t) {
         t.Mkdir("mnt/elsewhere");
         chmod(t.Posix("mnt/elsewhere").c_str(), 01777);
         symlink("elsewhere", t.Posix("mnt/.Trash").c_str());
       },
       "mnt/.Trash-0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare(tree_);
    tree_.Write("mnt/sub/f.txt", c.what);
    TrashedFile where;
    ASSERT_TRUE(MoveToTrash(tree_.Win("mnt/sub/f.txt"), &where)) << SysErrorMessage(GetLastError());
    EXPECT_EQ(where.trashFolder, tree_.Posix(c.expected));
    EXPECT_EQ(tree_.Read(std::string(c.expected) + "/files/" + where.name), c.what);
    system(("rm -rf " + tree_.Posix("mnt/.Trash") + " " + tree_.Posix("mnt/.Trash-0") + " " +
            tree_.Posix("mnt/elsewhere")).c_str());
  }
}

TEST_F(TrashOnMountTest, ReadOnlyMountFailsAndTheFileStays) {
  ASSERT_TRUE(mount_->RemountReadOnly()) << SysErrorMessage(errno);
  EXPECT_FALSE(MoveToTrash(tree_.Win("mnt/sub/f.txt")));
  EXPECT_EQ(GetLastError(), EROFS);
  EXPECT_EQ(tree_.Read("mnt/sub/f.txt"), "on the mount");
  EXPECT_FALSE(tree_.Exists("data/Trash"));  // never a move to another device
}

}  // namespace
}  // namespace kv::platform
