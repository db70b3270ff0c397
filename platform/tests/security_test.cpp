#include "platform/security.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using kv::test::IsRoot;
using kv::test::ScopedRegistry;
using kv::test::TempTree;

// Output of a shell command (the ACL tools are the oracle here).
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

// The ACL entries as getfacl prints them, without the header naming the file.
std::string Acl(const std::string& posix) { return Run("getfacl --omit-header --absolute-names --numeric '" + posix + "'"); }

struct stat StatOf(const std::string& posix) {
  struct stat st {};
  EXPECT_EQ(stat(posix.c_str(), &st), 0) << posix;
  return st;
}

std::vector<uint8_t> ReadPart(std::string_view path, uint32_t part) {
  uint32_t needed = 0;
  EXPECT_FALSE(GetFileSecurity(path, part, nullptr, 0, needed));
  EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
  EXPECT_GT(needed, 0u);
  std::vector<uint8_t> block(needed);
  EXPECT_TRUE(GetFileSecurity(path, part, block.data(), needed, needed)) << SysErrorMessage(GetLastError());
  return block;
}

bool ApplyPart(std::string_view path, uint32_t part, const std::vector<uint8_t>& block) {
  return SetFileSecurity(path, part, block.data(), static_cast<uint32_t>(block.size()));
}

class SecurityTest : public ::testing::Test {
 protected:
  ScopedRegistry registry_;
  TempTree tree_;
};

TEST_F(SecurityTest, DaclCarriesBitsAndAccessAclOfAFile) {
  tree_.Write("src", "s");
  tree_.Write("dst", "d");
  Sh("chmod 0640 " + tree_.Posix("src") + " && setfacl -m u:65534:rw,g:65534:r " + tree_.Posix("src"));
  ASSERT_NE(Acl(tree_.Posix("src")), Acl(tree_.Posix("dst")));

  ASSERT_TRUE(ApplyPart(tree_.Win("dst"), kDaclSecurityInformation, ReadPart(tree_.Win("src"), kDaclSecurityInformation)))
      << SysErrorMessage(GetLastError());
  EXPECT_EQ(Acl(tree_.Posix("dst")), Acl(tree_.Posix("src")));
  EXPECT_EQ(StatOf(tree_.Posix("dst")).st_mode & 07777, StatOf(tree_.Posix("src")).st_mode & 07777);
}

TEST_F(SecurityTest, PlainSourceRemovesTheTargetsExtendedAcl) {
  tree_.Write("src", "s");
  tree_.Write("dst", "d");
  Sh("chmod 0604 " + tree_.Posix("src") + " && setfacl -m u:65534:rwx " + tree_.Posix("dst"));
  ASSERT_TRUE(ApplyPart(tree_.Win("dst"), kDaclSecurityInformation, ReadPart(tree_.Win("src"), kDaclSecurityInformation)));
  EXPECT_EQ(Acl(tree_.Posix("dst")), "user::rw-\ngroup::---\nother::r--\n\n");
}

TEST_F(SecurityTest, FolderGetsTheDefaultAclOrLosesItsOwn) {
  tree_.Mkdir("src");
  tree_.Mkdir("dst");
  tree_.Mkdir("plain");
  Sh("setfacl -m u:65534:rx -d -m u:65534:rwx,g:65534:rx " + tree_.Posix("src"));
  const std::vector<uint8_t> withDefault = ReadPart(tree_.Win("src"), kDaclSecurityInformation);
  ASSERT_TRUE(ApplyPart(tree_.Win("dst"), kDaclSecurityInformation, withDefault));
  EXPECT_EQ(Acl(tree_.Posix("dst")), Acl(tree_.Posix("src")));
  EXPECT_NE(Acl(tree_.Posix("dst")).find("default:user:65534:rwx"), std::string::npos);

  // The copy of a folder without a default ACL has none either.
  ASSERT_TRUE(ApplyPart(tree_.Win("dst"), kDaclSecurityInformation, ReadPart(tree_.Win("plain"), kDaclSecurityInformation)));
  EXPECT_EQ(Acl(tree_.Posix("dst")), Acl(tree_.Posix("plain")));
  EXPECT_EQ(Acl(tree_.Posix("dst")).find("default:"), std::string::npos);
}

TEST_F(SecurityTest, OwnerCopyKeepsSetIdBits) {
  if (!IsRoot()) GTEST_SKIP() << "changing the owner needs root";
  tree_.Write("src", "s");
  tree_.Write("dst", "d");
  Sh("chown 65534:65534 " + tree_.Posix("src") + " && chmod 06755 " + tree_.Posix("src"));

  // The bits first: while the copy still belongs to root, setuid and setgid
  // stay off, or there would be a setuid-root copy of someone else's file.
  ASSERT_TRUE(ApplyPart(tree_.Win("dst"), kDaclSecurityInformation, ReadPart(tree_.Win("src"), kDaclSecurityInformation)));
  EXPECT_EQ(StatOf(tree_.Posix("dst")).st_mode & 07777, 0755u);

  ASSERT_TRUE(ApplyPart(tree_.Win("dst"), kOwnerSecurityInformation, ReadPart(tree_.Win("src"), kOwnerSecurityInformation)))
      << SysErrorMessage(GetLastError());
  const struct stat st = StatOf(tree_.Posix("dst"));
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 06755u);
}

TEST_F(SecurityTest, DaclOnATargetOfTheSameOwnerKeepsSetIdBits) {
  if (!IsRoot()) GTEST_SKIP() << "changing the owner needs root";
  tree_.Write("src", "s");
  tree_.Write("dst", "d");
  Sh("chmod 06711 " + tree_.Posix("src"));  // both belong to root
  ASSERT_TRUE(ApplyPart(tree_.Win("dst"), kDaclSecurityInformation, ReadPart(tree_.Win("src"), kDaclSecurityInformation)));
  EXPECT_EQ(StatOf(tree_.Posix("dst")).st_mode & 07777, 06711u);
}

TEST_F(SecurityTest, SaclIsNotSupported) {
  tree_.Write("src", "s");
  uint32_t needed = 0;
  uint8_t buf[64] = {};
  EXPECT_FALSE(GetFileSecurity(tree_.Win("src"), kSaclSecurityInformation, nullptr, 0, needed));
  EXPECT_EQ(GetLastError(), EOPNOTSUPP);
  EXPECT_EQ(SysErrorMessage(GetLastError()), "Operation not supported");
  EXPECT_FALSE(SetFileSecurity(tree_.Win("src"), kSaclSecurityInformation, buf, sizeof buf));
  EXPECT_EQ(GetLastError(), EOPNOTSUPP);
}

TEST_F(SecurityTest, BadRequestsAndBlocksFailCleanly) {
  tree_.Write("src", "s");
  tree_.Write("dst", "d");
  const std::vector<uint8_t> owner = ReadPart(tree_.Win("src"), kOwnerSecurityInformation);
  const std::vector<uint8_t> dacl = ReadPart(tree_.Win("src"), kDaclSecurityInformation);
  std::vector<uint8_t> cut(dacl.begin(), dacl.end() - 1);
  std::vector<uint8_t> garbage(dacl.size(), 0x5A);
  std::vector<uint8_t> wrongAcl = dacl;
  for (size_t i = 28; i < wrongAcl.size(); ++i) wrongAcl[i] ^= 0xFF;

  struct Case {
    const char* what;
    uint32_t part;
    const std::vector<uint8_t>* block;
  } cases[] = {
      {"cut block", kDaclSecurityInformation, &cut},
      {"foreign block", kDaclSecurityInformation, &garbage},
      {"damaged ACL", kDaclSecurityInformation, &wrongAcl},
      {"part missing from the block", kDaclSecurityInformation, &owner},
      {"no part", 0, &dacl},
      {"unknown part", 0x40, &dacl},
  };
  const mode_t before = StatOf(tree_.Posix("dst")).st_mode;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(ApplyPart(tree_.Win("dst"), c.part, *c.block));
    EXPECT_EQ(GetLastError(), EINVAL);
  }
  EXPECT_FALSE(SetFileSecurity(tree_.Win("dst"), kDaclSecurityInformation, nullptr, 0));
  EXPECT_EQ(StatOf(tree_.Posix("dst")).st_mode, before);

  uint32_t needed = 0;
  EXPECT_FALSE(GetFileSecurity(tree_.Win("missing"), kDaclSecurityInformation, nullptr, 0, needed));
  EXPECT_EQ(GetLastError(), ENOENT);
  // One byte short is still too short, and says how much is needed.
  std::vector<uint8_t> small(dacl.size() - 1);
  needed = 0;
  EXPECT_FALSE(GetFileSecurity(tree_.Win("src"), kDaclSecurityInformation, small.data(),
                               static_cast<uint32_t>(small.size()), needed));
  EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(needed, dacl.size());
}

}  // namespace
}  // namespace kv::platform
