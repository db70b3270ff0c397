// A job of an FTP pair, written by the test as the list builder leaves such
// pairs alone, carried out by the copy object created from the registered
// KestroCom.dll against a real server.
#include <gtest/gtest.h>

#include "copyengine/tests/ftppair_env.h"
#include "tests/endtoend_fixture.h"

namespace kv::test {
namespace {

TEST(FtpPairEndToEnd, TheRegisteredServerCopiesBothWays) {
  FtpPairEnv env(1);
  ASSERT_EQ(RegisterServer(), S_OK);
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  env.tree.Write("srv/down.txt", "from the server");
  env.tree.Write("loc/up.txt", "from here");
  {
    KV_START_FTP_SERVER(server, FtpServerKind::Vsftpd, {.root = env.tree.Posix("srv")});
    env.Use(server);
    ComPtr<ICopy> copy;
    ASSERT_EQ(CoCreateInstance(CLSID_CopyObj, nullptr, CLSCTX_INPROC_SERVER, IID_ICopy, copy.Out()), S_OK);
    EXPECT_EQ(DriveCopyObject(*copy.Get(), env.Call({env.Both(), env.Copy("down.txt", 15, false), env.Copy("up.txt", 9, true)})),
              S_OK);
  }
  CoUninitialize();
  EXPECT_EQ(env.Statuses(), (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(env.tree.Read("loc/down.txt"), "from the server");
  EXPECT_EQ(env.tree.Read("srv/up.txt"), "from here");
  EXPECT_TRUE(env.tree.Exists("srv/kvftp.log"));
}

}  // namespace
}  // namespace kv::test
