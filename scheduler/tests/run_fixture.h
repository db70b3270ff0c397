#pragma once
// Runs of TthRunSync as the scheduler starts them, on real trees: a work
// folder with profile files written from the record layouts, the component
// registry and the per-user folders in temporary folders (so the first run of
// each test registers KestroCom.dll from beside the test program), and a
// count of the beeps. After every test no job file, drive table or report is
// left behind, whatever the run's outcome.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "copyengine/tests/engine_fixture.h"
#include "scheduler/runsync.h"
#include "scheduler/tests/scheduler_fixture.h"
#include "testsupport/fixtures.h"
#include "testsupport/profiles.h"
#include "testsupport/temptree.h"

namespace kv::test {

inline constexpr std::chrono::minutes kRunDeadline{2};

// Commands are not awaited: what they write is waited for (with a deadline).
inline std::vector<std::string> LinesOnceWritten(const std::string& posix) {
  Eventually([&] { return std::filesystem::exists(posix); });
  std::vector<std::string> lines;
  std::istringstream in(std::filesystem::exists(posix) ? ReadFileText(posix) : "");
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class RunFixture : public ::testing::Test {
 protected:
  TempTree tree;
  ScopedRegistry registry;
  ScopedEnv runtime{"XDG_RUNTIME_DIR", tree.Posix().c_str()};
  ScopedEnv data{"XDG_DATA_HOME", tree.Posix().c_str()};
  ScopedEnv cache{"XDG_CACHE_HOME", tree.Posix().c_str()};
  ScopedEnv config{"XDG_CONFIG_HOME", tree.Posix().c_str()};
  BeepCount beeps;

  void SetUp() override {
    tree.Mkdir("src");
    tree.Mkdir("dst");
    WriteUserOptions(tree.Posix("W/UsrOpt.kst"), UserOptionsSpec{});
  }

  void TearDown() override {
    for (const auto& e : std::filesystem::recursive_directory_iterator(tree.Posix("W"))) {
      EXPECT_NE(e.path().filename().string().front(), '$') << "job file or pair copy left: " << e.path();
    }
    // The private temporary folder keeps only the profiles' lock files.
    if (!std::filesystem::exists(tree.Posix("kestrovane"))) return;
    for (const auto& e : std::filesystem::directory_iterator(tree.Posix("kestrovane"))) {
      EXPECT_EQ(e.path().filename().string().rfind("run-", 0), 0u) << "left behind: " << e.path();
    }
  }

  static std::string ProfileRel(const ProfileSpec& spec) { return "W/Profile/" + spec.profileNo + "/"; }

  // A profile whose folder ProfileRel(spec) holds these pairs.
  ProfileSpec Profile(const std::string& number, const std::vector<FolderPairSpec>& pairs) {
    ProfileSpec spec{.profileNo = number, .profileName = "Profil " + number};
    spec.profilePath = tree.WinFolder(ProfileRel(spec));
    WriteSrcDest(tree.Posix(ProfileRel(spec) + "SrcDest.kst"), pairs);
    return spec;
  }

  TRunHandle Start(const ProfileSpec& spec, const std::string& mail = "", int criticDel = 101) {
    WriteProfileList(tree.Posix("W/Profile/Pro.kst"), {spec});
    const std::optional<TProfItem> profile = FindProfile(tree.Win("W/Profile/Pro.kst"), spec.profileNo).profile;
    EXPECT_TRUE(profile);
    const TUserOptions options = LoadUserOptions(tree.Win("W/Profile/Timer.dat"));
    return TthRunSync::Create(false, true, *profile, options, mail, criticDel, true);
  }

  TRunOutcome Run(const ProfileSpec& spec, const std::string& mail = "", int criticDel = 101) {
    const TRunHandle run = Start(spec, mail, criticDel);
    EXPECT_TRUE(run.WaitFor(kRunDeadline));
    return run.Outcome();
  }

  DecodedPtk Protocol(const ProfileSpec& spec, const std::string& name) {
    return DecodePtk(tree.Posix(ProfileRel(spec) + "AUTOptk/" + name + ".ptk"));
  }
  std::vector<std::string> ProtocolNames(const ProfileSpec& spec) {
    return ReadPtkNames(tree.Win(ProfileRel(spec) + "AUTOptk"));
  }

  // A script that writes its working folder and its arguments, one a line,
  // to `out` (relative to the tree); its path.
  std::string RecordingScript(const std::string& rel, const std::string& out) {
    tree.Write(rel, "#!/bin/sh\n{ pwd; printf '%s\\n' \"$@\"; } > \"" + tree.Posix(out) + ".part\"\nmv \"" +
                        tree.Posix(out) + ".part\" \"" + tree.Posix(out) + "\"\n");
    std::filesystem::permissions(tree.Posix(rel), std::filesystem::perms::owner_all);
    return tree.Posix(rel);
  }
};

}  // namespace kv::test
