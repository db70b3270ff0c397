#include "copyengine/ntfsrights.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "testsupport/acl.h"
#include "testsupport/commands.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using namespace kv::test;

class RightsTest : public ::testing::Test {
 protected:
  ScopedRegistry registry_;
  TempTree tree_;
};

TEST_F(RightsTest, FoldersAndFilesGetAclOwnerAndSpecialBits) {
  if (!IsRoot()) GTEST_SKIP() << "copying an owner needs root";
  struct Case {
    bool folder;
    mode_t mode;
    const char* acl;  // setfacl arguments; a folder's default ACL too
    void (*copy)(std::string_view, std::string_view);
  };
  const Case cases[] = {{true, 02775, "-m u:1234:rwx -d -m u:1234:rx", CopyNTFSRights},
                        {false, 06750, "-m u:1234:rx", CopyFileNTFSRights}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder ? "folder" : "file");
    const std::string src = c.folder ? "srcdir" : "src", dst = c.folder ? "dstdir" : "dst";
    for (const std::string& rel : {src, dst}) c.folder ? tree_.Mkdir(rel) : tree_.Write(rel, "program");
    char mode[8];
    snprintf(mode, sizeof mode, "%o", c.mode);
    MustRun("chown 65534:65534 " + tree_.Posix(src) + " && chmod " + mode + " " + tree_.Posix(src) + " && setfacl " +
            c.acl + " " + tree_.Posix(src));
    ASSERT_NE(AclOf(tree_.Posix(src)), AclOf(tree_.Posix(dst)));
    c.copy(tree_.Win(src), tree_.Win(dst));  // the SACL part fails quietly
    EXPECT_EQ(AclOf(tree_.Posix(dst)), AclOf(tree_.Posix(src)));
    EXPECT_EQ(RightsOf(tree_.Posix(dst)), (FileRights{65534, 65534, c.mode}));
  }
}

TEST_F(RightsTest, SingleRoutinesRaiseTheSystemText) {
  tree_.Write("src", "s");
  tree_.Write("dst", "d");
  struct Case {
    const char* what;
    void (*copy)(std::string_view, std::string_view);
    std::string source, target;
    int code;
    const char* text;
  } cases[] = {
      {"SACL", CopySaclRights, tree_.Win("src"), tree_.Win("dst"), EOPNOTSUPP, "Operation not supported"},
      {"DACL of a missing source", CopyDaclRights, tree_.Win("none"), tree_.Win("dst"), ENOENT,
       "No such file or directory"},
      {"owner onto a missing target", CopyOwnerRights, tree_.Win("src"), tree_.Win("none"), ENOENT,
       "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.copy(c.source, c.target);
      ADD_FAILURE() << "no error raised";
    } catch (const ERightsCopy& e) {
      EXPECT_EQ(e.code(), c.code);
      EXPECT_STREQ(e.what(), c.text);
    }
  }
  // The combined routines swallow every failure.
  EXPECT_NO_THROW(CopyNTFSRights(tree_.Win("none"), tree_.Win("dst")));
  EXPECT_NO_THROW(CopyFileNTFSRights(tree_.Win("src"), "Q:\\nowhere"));
}

TEST_F(RightsTest, WithoutPrivilegeTheDaclIsCopiedAllTheSame) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to prepare files of two users";
  tree_.Write("src", "s");  // belongs to root: the owner cannot follow
  tree_.Mkdir("srcdir");
  MustRun("chmod 0640 " + tree_.Posix("src") + " && setfacl -m u:65534:r,g:1234:r " + tree_.Posix("src"));
  MustRun("setfacl -m u:1234:rx -d -m u:1234:rwx " + tree_.Posix("srcdir"));
  MustRun("chown 65534:65534 " + tree_.Posix("") + " && chmod 0755 " + registry_.Directory());
  const std::string src = tree_.Win("src"), srcDir = tree_.Win("srcdir");
  const std::string dst = tree_.Win("dst"), dstDir = tree_.Win("dstdir");
  const std::string dstPosix = tree_.Posix("dst"), dstDirPosix = tree_.Posix("dstdir");
  const int rc = RunUnprivileged([&] {
    if (FILE* f = fopen(dstPosix.c_str(), "w")) fclose(f);
    if (mkdir(dstDirPosix.c_str(), 0700) != 0) return 1;
    CopyFileNTFSRights(src, dst);
    CopyNTFSRights(srcDir, dstDir);
    return 0;
  });
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(AclOf(tree_.Posix("dst")), AclOf(tree_.Posix("src")));
  EXPECT_EQ(AclOf(tree_.Posix("dstdir")), AclOf(tree_.Posix("srcdir")));
  EXPECT_EQ(RightsOf(tree_.Posix("dst")).uid, 65534u);
  EXPECT_EQ(RightsOf(tree_.Posix("dstdir")).uid, 65534u);
}

}  // namespace
}  // namespace kv
