#include "platform/security.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "testsupport/acl.h"
#include "testsupport/commands.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using kv::test::AclOf;
using kv::test::MustRun;
using kv::test::RightsOf;

std::vector<uint8_t> ReadPart(std::string_view path, uint32_t part) {
  uint32_t needed = 0;
  EXPECT_FALSE(GetFileSecurity(path, part, nullptr, 0, needed));
  EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
  std::vector<uint8_t> block(needed);
  EXPECT_TRUE(GetFileSecurity(path, part, block.data(), needed, needed)) << SysErrorMessage(GetLastError());
  return block;
}

bool ApplyPart(std::string_view path, uint32_t part, const std::vector<uint8_t>& block) {
  return SetFileSecurity(path, part, block.data(), static_cast<uint32_t>(block.size()));
}

class SecurityTest : public ::testing::Test {
 protected:
  // Copies one part from src to dst, both below the tree.
  bool CopyPart(const std::string& src, const std::string& dst, uint32_t part) {
    return ApplyPart(tree_.Win(dst), part, ReadPart(tree_.Win(src), part));
  }
  kv::test::ScopedRegistry registry_;
  kv::test::TempTree tree_;
};

// getfacl is the oracle: after the DACL copy the target's ACL (access and, on
// folders, default entries) and mode are the source's.
TEST_F(SecurityTest, DaclCopyMakesTheTargetsAclTheSources) {
  const struct {
    const char* what;
    bool folders;
    const char* prepareSrc;  // run with the source's path appended
    const char* prepareDst;
  } cases[] = {
      {"extended access ACL", false, "chmod 0640 {} && setfacl -m u:65534:rw,g:65534:r", ""},
      {"plain source removes the target's ACL", false, "chmod 0604", "setfacl -m u:65534:rwx"},
      {"folder with a default ACL", true, "setfacl -m u:65534:rx -d -m u:65534:rwx,g:65534:rx", ""},
      {"folder without one loses the target's", true, "chmod 0750", "setfacl -d -m u:65534:rwx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    kv::test::TempTree t;
    const auto prepare = [&](const std::string& rel, const std::string& command) {
      if (c.folders) t.Mkdir(rel);
      else t.Write(rel, rel);
      if (command.empty()) return;
      std::string line = command;
      const size_t at = line.find("{}");
      if (at != std::string::npos) line.replace(at, 2, t.Posix(rel));
      MustRun(line + " " + t.Posix(rel));
    };
    prepare("src", c.prepareSrc);
    prepare("dst", c.prepareDst);
    ASSERT_NE(AclOf(t.Posix("dst")), AclOf(t.Posix("src")));
    ASSERT_TRUE(ApplyPart(t.Win("dst"), kDaclSecurityInformation, ReadPart(t.Win("src"), kDaclSecurityInformation)))
        << SysErrorMessage(GetLastError());
    EXPECT_EQ(AclOf(t.Posix("dst")), AclOf(t.Posix("src")));
    EXPECT_EQ(RightsOf(t.Posix("dst")).mode, RightsOf(t.Posix("src")).mode);
  }
}

// While the target still belongs to root, the DACL copy must not give it the
// setuid/setgid bits of another user's file; the owner copy adds them after
// the chown (which clears them).
TEST_F(SecurityTest, SetIdBitsOnlyWithTheSourcesOwner) {
  if (!kv::test::IsRoot()) GTEST_SKIP() << "changing the owner needs root";
  tree_.Write("foreign", "s");
  tree_.Write("own", "s");
  tree_.Write("dst", "d");
  tree_.Write("dst2", "d");
  MustRun("chown 65534:65534 " + tree_.Posix("foreign") + " && chmod 06755 " + tree_.Posix("foreign"));
  MustRun("chmod 06711 " + tree_.Posix("own"));

  ASSERT_TRUE(CopyPart("foreign", "dst", kDaclSecurityInformation));
  EXPECT_EQ(RightsOf(tree_.Posix("dst")).mode, 0755u);
  ASSERT_TRUE(CopyPart("foreign", "dst", kOwnerSecurityInformation)) << SysErrorMessage(GetLastError());
  EXPECT_EQ(RightsOf(tree_.Posix("dst")), (kv::test::FileRights{65534, 65534, 06755}));

  ASSERT_TRUE(CopyPart("own", "dst2", kDaclSecurityInformation));  // both belong to root
  EXPECT_EQ(RightsOf(tree_.Posix("dst2")).mode, 06711u);
}

TEST_F(SecurityTest, SaclIsNotSupported) {
  tree_.Write("src", "s");
  uint32_t needed = 0;
  uint8_t buf[64] = {};
  EXPECT_FALSE(GetFileSecurity(tree_.Win("src"), kSaclSecurityInformation, nullptr, 0, needed));
  EXPECT_EQ(GetLastError(), EOPNOTSUPP);
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
  // The ACL's own size field claims the bytes after it, which the header
  // gives to the (ignored) default ACL of a file.
  std::vector<uint8_t> overlong = dacl;
  const uint32_t aclBytes = static_cast<uint32_t>(dacl.size() - 28);
  for (int i = 0; i < 4; ++i) {
    overlong[20 + i] = static_cast<uint8_t>(4u >> (8 * i));
    overlong[24 + i] = static_cast<uint8_t>((aclBytes - 4) >> (8 * i));
  }

  const struct { const char* what; uint32_t part; const std::vector<uint8_t>* block; } cases[] = {
      {"cut block", kDaclSecurityInformation, &cut},
      {"foreign block", kDaclSecurityInformation, &garbage},
      {"damaged ACL", kDaclSecurityInformation, &wrongAcl},
      {"ACL longer than its part", kDaclSecurityInformation, &overlong},
      {"part missing from the block", kDaclSecurityInformation, &owner},
      {"no part", 0, &dacl}, {"unknown part", 0x40, &dacl},
  };
  const auto before = RightsOf(tree_.Posix("dst"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(ApplyPart(tree_.Win("dst"), c.part, *c.block));
    EXPECT_EQ(GetLastError(), EINVAL);
  }
  EXPECT_FALSE(SetFileSecurity(tree_.Win("dst"), kDaclSecurityInformation, nullptr, 0));
  EXPECT_EQ(RightsOf(tree_.Posix("dst")), before);

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
