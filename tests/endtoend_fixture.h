#pragma once
// A scheduler run without the scheduler, for the end-to-end tests: profile
// files written as the profile editor writes them, the list builder as the
// run thread calls it, and the copy object created from the registered
// KestroCom.dll and driven in the scheduler's order.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "copyengine/icopy.h"
#include "copyengine/tests/engine_fixture.h"
#include "platform/com/comptr.h"
#include "platform/com/comrt.h"
#include "shared/profitem.h"
#include "shared/useroptions.h"
#include "synclist/buildsynclist.h"
#include "testsupport/fixtures.h"
#include "testsupport/profiles.h"
#include "testsupport/temptree.h"

namespace kv::test {

namespace fs = std::filesystem;
using namespace platform;

inline HRESULT RegisterServer() {
  void* library = dlopen(KV_KESTROCOM, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    ADD_FAILURE() << dlerror();
    return E_FAIL;
  }
  auto entry = reinterpret_cast<DllRegisterServerFn>(dlsym(library, "DllRegisterServer"));
  return entry ? entry() : E_FAIL;
}

// Name -> (content, mtime) of every file below a folder, by relative path.
inline std::map<std::string, std::pair<std::string, time_t>> Snapshot(const std::string& root) {
  std::map<std::string, std::pair<std::string, time_t>> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    if (e.is_directory()) {
      out[rel + "/"] = {"", 0};
      continue;
    }
    struct stat st {};
    stat(e.path().c_str(), &st);
    std::ifstream in(e.path(), std::ios::binary);
    out[rel] = {std::string(std::istreambuf_iterator<char>(in), {}), st.st_mtime};
  }
  return out;
}

// The folders data/src and data/dst, a profile W/Profile/1/ and the server
// registered in a registry of the test's own.
class EndToEnd : public ::testing::Test {
 protected:
  ScopedEnv tz{"TZ", "Europe/Berlin"};
  TempTree tree;
  ScopedRegistry registry;
  const std::string profileRel = "W/Profile/1/";

  void SetUp() override {
    ASSERT_EQ(RegisterServer(), S_OK);
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    tree.Mkdir("data/src");
    tree.Mkdir("data/dst");
    WriteUserOptions(tree.Posix("W/UsrOpt.kst"), UserOptionsSpec{});
  }
  void TearDown() override { CoUninitialize(); }

  std::string Src(const std::string& rel = "") const { return tree.WinFolder("data/src/" + rel); }
  std::string Dst(const std::string& rel = "") const { return tree.WinFolder("data/dst/" + rel); }

  void WriteProfile(const FolderPairSpec& pair, bool keepOldStamps) {
    WriteSrcDest(tree.Posix(profileRel + "SrcDest.kst"), {pair});
    ProfileSpec spec;
    spec.profilePath = tree.WinFolder(profileRel);
    spec.keepOldStamps = keepOldStamps ? 1 : 0;
    WriteProfileList(tree.Posix("W/Profile/Pro.kst"), {spec});
  }

  // The list builder as the run thread calls it; the job file's path.
  std::string BuildJob() {
    const ProfileLookup lookup = FindProfile(tree.Win("W/Profile/Pro.kst"), "0000001");
    EXPECT_TRUE(lookup.profile) << lookup.error;
    const TUserOptions options = LoadUserOptions(tree.Win("W/Profile/Timer.dat"));
    std::string jobFile;
    TDriveNameList vanished;
    TMoveList moved;
    int critical = 101;
    BuildSyncList(false, false, true, false, options, *lookup.profile, tree.Win("W/drives.tmp"), jobFile, vanished,
                  moved, critical, nullptr);
    EXPECT_FALSE(jobFile.empty());
    return jobFile;
  }

  std::string JobPosix(const std::string& jobWin) const {
    return tree.Posix(profileRel + jobWin.substr(jobWin.rfind('\\') + 1));
  }

  // The copy engine as the scheduler drives it; hidden false lets the end of
  // the run show its merge window (to a factory the test installed).
  HRESULT RunEngine(const std::string& jobFile, bool oldStamps, bool hidden = true) {
    tree.Write(profileRel + "AUTOptk/00000.ptk", "");
    ComPtr<ICopy> copy;
    const HRESULT created =
        CoCreateInstance(CLSID_CopyObj, nullptr, CLSCTX_INPROC_SERVER, IID_ICopy, copy.Out());
    if (FAILED(created)) return created;
    EngineCall call;
    call.ptkFile = tree.Win(profileRel + "AUTOptk/00000.ptk");
    call.srcFile = jobFile;
    call.mainFile = tree.Win(profileRel + "SrcDest.kst");
    if (oldStamps) call.osFile = tree.Win(profileRel + "OS.vrl");
    call.hidden = hidden;
    return DriveCopyObject(*copy.Get(), call);
  }

  void File(const std::string& rel, const std::string& content, time_t when) {
    tree.Write(rel, content);
    tree.SetMTime(rel, when);
  }
};

}  // namespace kv::test
