#include "platform/netconnect.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/volumes.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using kv::test::TempTree;

constexpr const char* kShare = "\\\\srv\\share";

class NetConnectTest : public ::testing::Test {
 protected:
  void AddShare(bool mustBeMounted, const std::string& connectCommand) {
    tree_.Mkdir("share");
    VolumeTable table = VolumeTable::Load();
    table.Set(Volume{kShare, tree_.Posix("share"), std::nullopt, "", mustBeMounted, connectCommand});
    table.Save();
  }

  kv::test::ScopedRegistry registry_;
  TempTree tree_;
};

TEST_F(NetConnectTest, CommandGetsTheCredentialsOnStandardInputOnly) {
  // The folder is no mount point, so the share stays unavailable and the
  // command runs on every attempt; it keeps what it read and fails.
  AddShare(true, "/bin/sh -c 'cat > \"$0\"; exit 3' " + tree_.Posix("input"));
  EXPECT_FALSE(AddNetConnection("", kShare, NetCredentials{"ann", "geheim"}));
  EXPECT_EQ(GetLastError(), EACCES);
  EXPECT_EQ(tree_.Read("input"), "ann\ngeheim\n");

  EXPECT_FALSE(AddNetConnection("", kShare, std::nullopt));
  EXPECT_EQ(tree_.Read("input"), "");

  // A line break would let the password pose as a further line.
  EXPECT_FALSE(AddNetConnection("", kShare, NetCredentials{"ann", "a\nb"}));
  EXPECT_EQ(GetLastError(), EINVAL);
  EXPECT_EQ(tree_.Read("input"), "");
  EXPECT_FALSE(AddNetConnection("", "\\\\srv\\unknown", std::nullopt));
  EXPECT_EQ(GetLastError(), ENXIO);
}

TEST_F(NetConnectTest, LetterIsMappedAndRemembered) {
  AddShare(false, "");
  ASSERT_TRUE(AddNetConnection("x:", kShare, std::nullopt));
  const VolumeTable table = VolumeTable::Load();
  ASSERT_NE(table.Find("X:"), nullptr);
  EXPECT_EQ(table.Find("X:")->folder, tree_.Posix("share"));
  EXPECT_EQ(table.RemoteName("X:"), kShare);
  EXPECT_TRUE(AddNetConnection("X:", kShare, std::nullopt));  // the same again
  EXPECT_FALSE(AddNetConnection("C:", kShare, std::nullopt));
  EXPECT_EQ(GetLastError(), EEXIST);
}

// A letter the registry did not take is not connected: the next path on it
// would not resolve.
TEST_F(NetConnectTest, LetterThatCannotBeRememberedFails) {
  if (!kv::test::IsRoot()) GTEST_SKIP() << "needs root to hand the registry to another user";
  AddShare(false, "");
  // Readable for everyone, writable by root alone.
  ASSERT_EQ(chmod(registry_.Directory().c_str(), 0755), 0);
  ASSERT_EQ(chmod(Registry::FilePath(Hive::LocalMachine).c_str(), 0644), 0);
  ASSERT_EQ(chmod(tree_.Posix().c_str(), 0755), 0);
  const int result = kv::test::RunUnprivileged([] {
    if (AddNetConnection("Y:", kShare, std::nullopt)) return 1;
    return GetLastError() == EACCES ? 0 : 2;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(VolumeTable::Load().Find("Y:"), nullptr);
}

}  // namespace
}  // namespace kv::platform
