// The registration tool, run as a program against the test server.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/comrt.h"
#include "platform/com/tests/fakeserver/fakeserver.h"
#include "platform/registry.h"
#include "testsupport/commands.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

struct Outcome {
  int status = -1;
  std::string output;  // standard error and standard output
};

Outcome RunRegsvr32(const std::string& arguments) {
  Outcome outcome;
  outcome.output = test::RunCommand(std::string("'") + KV_REGSVR32 + "' " + arguments + " 2>&1", &outcome.status);
  return outcome;
}

std::optional<std::string> RegisteredPath() {
  return Registry(Hive::ClassesRoot).ReadString(InprocServerKey(test::CLSID_FakeObj), "");
}

TEST(Regsvr32, RegistersAndUnregisters) {
  test::ScopedRegistry registry;
  Outcome reg = RunRegsvr32(std::string("'") + KV_FAKE_SERVER + "'");
  EXPECT_EQ(reg.status, 0) << reg.output;
  EXPECT_NE(reg.output.find("DllRegisterServer"), std::string::npos) << reg.output;
  EXPECT_EQ(RegisteredPath(), std::string(KV_FAKE_SERVER));

  Outcome unreg = RunRegsvr32(std::string("/u /s '") + KV_FAKE_SERVER + "'");
  EXPECT_EQ(unreg.status, 0);
  EXPECT_EQ(unreg.output, "") << "silent";
  EXPECT_FALSE(RegisteredPath());

  // A relative name means the current folder and is registered in full.
  const std::string library = KV_FAKE_SERVER;
  const size_t slash = library.rfind('/');
  test::MustRun("cd '" + library.substr(0, slash) + "' && '" + KV_REGSVR32 + "' -S " + library.substr(slash + 1));
  EXPECT_EQ(RegisteredPath(), library);
}

TEST(Regsvr32, ReportsEveryFailureByItsExitStatus) {
  test::ScopedRegistry registry;
  test::TempTree tree;
  tree.Write("broken.dll", "not a library");
  struct Case {
    std::string arguments;
    int status;
    bool serverFails = false;
  };
  const Case cases[] = {
      {"", 1},
      {"/x '" + std::string(KV_FAKE_SERVER) + "'", 1},
      {"a.dll b.dll", 1},
      {"/s", 1},
      {"'" + tree.Posix("missing.dll") + "'", 3},
      {"'" + tree.Posix("broken.dll") + "'", 3},
      {std::string("'") + KV_COMRT_LIBRARY + "'", 4},
      {std::string("'") + KV_FAKE_SERVER + "'", 5, true},
  };
  for (const Case& c : cases) {
    test::ScopedEnv fail(test::kFakeFailRegistration, c.serverFails ? "1" : nullptr);
    Outcome outcome = RunRegsvr32(c.arguments);
    EXPECT_EQ(outcome.status, c.status) << c.arguments << "\n" << outcome.output;
    EXPECT_FALSE(outcome.output.empty()) << c.arguments;
  }
  EXPECT_FALSE(RegisteredPath()) << "nothing was registered by a failing run";

  test::ScopedEnv fail(test::kFakeFailRegistration, "1");
  Outcome silent = RunRegsvr32(std::string("/s '") + KV_FAKE_SERVER + "'");
  EXPECT_EQ(silent.status, 5);
  EXPECT_EQ(silent.output, "");
}

}  // namespace
}  // namespace kv::platform
