#include "copyengine/ntfsrights.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "testsupport/temptree.h"

namespace kv {
namespace {

using kv::test::IsRoot;
using kv::test::RunUnprivileged;
using kv::test::ScopedRegistry;
using kv::test::TempTree;

std::string Run(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
    std::array<char, 512> buf;
    while (size_t n = fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
    pclose(p);
  }
  return out;
}

void Sh(const std::string& command) { ASSERT_EQ(system(command.c_str()), 0) << command; }

std::string Acl(const std::string& posix) { return Run("getfacl --omit-header --absolute-names --numeric '" + posix + "'"); }

struct Owner {
  uid_t uid;
  gid_t gid;
  mode_t mode;
  bool operator==(const Owner&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Owner& o) {
  return os << o.uid << ":" << o.gid << " " << std::oct << o.mode << std::dec;
}
Owner OwnerOf(const std::string& posix) {
  struct stat st {};
  EXPECT_EQ(stat(posix.c_str(), &st), 0) << posix;
  return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

class RightsTest : public ::testing::Test {
 protected:
  ScopedRegistry registry_;
  TempTree tree_;
};

TEST_F(RightsTest, FolderGetsAclDefaultAclOwnerAndSetgid) {
  if (!IsRoot()) GTEST_SKIP() << "copying an owner needs root";
  tree_.Mkdir("src");
  tree_.Mkdir("dst");
  Sh("chown 65534:65534 " + tree_.Posix("src") + " && chmod 02775 " + tree_.Posix("src") +
     " && setfacl -m u:1234:rwx -d -m u:1234:rx " + tree_.Posix("src"));
  ASSERT_NE(Acl(tree_.Posix("src")), Acl(tree_.Posix("dst")));

  CopyNTFSRights(tree_.Win("src"), tree_.Win("dst"));  // the SACL part fails quietly
  EXPECT_EQ(Acl(tree_.Posix("dst")), Acl(tree_.Posix("src")));
  EXPECT_EQ(OwnerOf(tree_.Posix("dst")), (Owner{65534, 65534, 02775}));
}

TEST_F(RightsTest, FileGetsAclOwnerAndSetuid) {
  if (!IsRoot()) GTEST_SKIP() << "copying an owner needs root";
  tree_.Write("src", "program");
  tree_.Write("dst", "program");
  Sh("chown 65534:65534 " + tree_.Posix("src") + " && chmod 06750 " + tree_.Posix("src") +
     " && setfacl -m u:1234:rx " + tree_.Posix("src"));

  CopyFileNTFSRights(tree_.Win("src"), tree_.Win("dst"));
  EXPECT_EQ(Acl(tree_.Posix("dst")), Acl(tree_.Posix("src")));
  EXPECT_EQ(OwnerOf(tree_.Posix("dst")), (Owner{65534, 65534, 06750}));
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
  Sh("chmod 0640 " + tree_.Posix("src") + " && setfacl -m u:65534:r,g:1234:r " + tree_.Posix("src"));
  Sh("setfacl -m u:1234:rx -d -m u:1234:rwx " + tree_.Posix("srcdir"));
  Sh("chown 65534:65534 " + tree_.Posix("") + " && chmod 0755 " + registry_.Directory());
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
  EXPECT_EQ(Acl(tree_.Posix("dst")), Acl(tree_.Posix("src")));
  EXPECT_EQ(Acl(tree_.Posix("dstdir")), Acl(tree_.Posix("srcdir")));
  EXPECT_EQ(OwnerOf(tree_.Posix("dst")).uid, 65534u);
  EXPECT_EQ(OwnerOf(tree_.Posix("dstdir")).uid, 65534u);
}

}  // namespace
}  // namespace kv
