// runprofile as a program of its own folder, with an empty registry and a
// registration tool that takes its time: the run waits for the registration,
// creates the engine and completes.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/com/comrt.h"
#include "platform/registry.h"
#include "scheduler/runsync.h"
#include "scheduler/tests/run_fixture.h"
#include "testsupport/commands.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

TEST(RunProfile, CompletesThroughTheRegistrationWithAnEmptyRegistry) {
  test::TempTree tree;
  test::ScopedRegistry registry;
  test::ScopedEnv runtime{"XDG_RUNTIME_DIR", tree.Posix().c_str()};
  const fs::path built = fs::path(KV_RUNPROFILE).parent_path();
  tree.Mkdir("bin");
  for (const fs::path& file : {fs::path(KV_RUNPROFILE), fs::path(KV_KESTROCOM), built / "libkv_comrt.so"}) {
    fs::copy_file(file, tree.Posix("bin") / file.filename());
  }
  tree.Write("bin/regsvr32", "#!/bin/sh\nsleep 2\nexec '" + (built / "regsvr32").string() + "' \"$@\"\n");
  fs::permissions(tree.Posix("bin/regsvr32"), fs::perms::owner_all);

  test::WriteUserOptions(tree.Posix("W/UsrOpt.kst"), {});
  test::WriteSrcDest(tree.Posix("W/Profile/7/SrcDest.kst"),
                     {test::MirrorPair(tree.WinFolder("src"), tree.WinFolder("dst"))});
  test::ProfileSpec spec;
  spec.profileNo = "0000007";
  spec.profilePath = tree.WinFolder("W/Profile/7");
  test::WriteProfileList(tree.Posix("W/Profile/Pro.kst"), {spec});
  tree.Write("src/a.txt", "a");

  int status = -1;
  const std::string output =
      test::RunCommand("'" + tree.Posix("bin/runprofile") + "' '" + tree.Posix("W") + "' 0000007 2>&1", &status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("Kestrovane: Profil 0000007 \"Test\": Abgleich gestartet\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Kestrovane: Profil 0000007 \"Test\": Abgleich beendet, Protokoll " +
                        tree.Win("W/Profile/7/AUTOptk/00000.ptk") + "\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(tree.Read("dst/a.txt"), "a");
  EXPECT_EQ(platform::Registry(platform::Hive::ClassesRoot).ReadString(platform::InprocServerKey(CLSID_CopyObj), ""),
            tree.Posix("bin/KestroCom.dll"));
}

}  // namespace
}  // namespace kv
