// FTP pairs carried out by the copy object against real servers and the
// scripted fake.
#include <gtest/gtest.h>

#include "copyengine/copyobj.h"
#include "copyengine/tests/ftppair_env.h"

namespace kv {
namespace {

using namespace test;

platform::HRESULT RunInProcess(const EngineCall& call) {
  TCopyObj* obj = new TCopyObj;
  obj->AddRef();
  const platform::HRESULT hr = DriveCopyObject(*obj, call);
  obj->Release();
  return hr;
}

class FtpPairsSmoke : public testing::TestWithParam<FtpServerKind> {};
INSTANTIATE_TEST_SUITE_P(K, FtpPairsSmoke, testing::ValuesIn(kFtpServerKinds));
TEST_P(FtpPairsSmoke, UploadsAndDownloads) {
  FtpPairEnv env(2);
  env.tree.Write("srv/up.txt", "old");
  env.tree.Write("loc/up.txt", "up");
  env.tree.Write("srv/down.txt", "down!");
  KV_START_FTP_SERVER(server, GetParam(), {.root = env.tree.Posix("srv")});
  env.Use(server);
  ASSERT_EQ(RunInProcess(env.Call({env.Both(), env.Copy("up.txt", 2, true, true), env.Copy("down.txt", 5, false)})), 0);
  for (auto& [status, message] : env.Records()) std::printf("%d %s\n", status, message.c_str());
  EXPECT_EQ(env.tree.Read("srv/up.txt"), "up");
  EXPECT_EQ(env.tree.Read("loc/down.txt"), "down!");
  for (auto& e : env.Entries("srv")) std::printf("srv: %s\n", e.c_str());
  for (auto& e : env.Entries("work")) std::printf("work: %s\n", e.c_str());
}

}  // namespace
}  // namespace kv
