// A scheduler run without the scheduler: the list builder compares real
// trees and writes the job, the copy object is created from the registered
// KestroCom.dll, gets its properties in the scheduler's order and carries
// the job out. Afterwards the trees match the strategy's intent, the
// protocol and the old timestamps say what happened, and a second list finds
// nothing left to do, also for files dated on both sides of a summer/winter
// switch.
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

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace test;
using namespace platform;

constexpr const char* kCopied = "Die Datei wurde kopiert.";

HRESULT RegisterServer() {
  void* library = dlopen(KV_KESTROCOM, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    ADD_FAILURE() << dlerror();
    return E_FAIL;
  }
  auto entry = reinterpret_cast<DllRegisterServerFn>(dlsym(library, "DllRegisterServer"));
  return entry ? entry() : E_FAIL;
}

// Name -> (content, mtime) of every file below a folder, by relative path.
std::map<std::string, std::pair<std::string, time_t>> Snapshot(const std::string& root) {
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

  // The copy engine as the scheduler drives it.
  HRESULT RunEngine(const std::string& jobFile, bool oldStamps) {
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
    return DriveCopyObject(*copy.Get(), call);
  }

  void File(const std::string& rel, const std::string& content, time_t when) {
    tree.Write(rel, content);
    tree.SetMTime(rel, when);
  }
};

const time_t kSummer = LocalEpoch(2024, 7, 15, 14, 0, 10);
const time_t kWinter = LocalEpoch(2024, 1, 15, 9, 0, 20);
const time_t kLaterSummer = LocalEpoch(2024, 8, 1, 8, 0, 0);

TEST_F(EndToEnd, AMirrorMakesTheDestinationTheSourceAcrossSummerAndWinterTime) {
  FolderPairSpec pair;
  pair.source = Src();
  pair.destination = Dst();
  pair.Strategy(8, 1, 1).Strategy(7, 1, 2).Strategy(1, 1, 1).Strategy(0, 1, 2);
  for (int state : {2, 3, 4, 5, 6}) pair.Strategy(state, 1, 1);
  WriteProfile(pair, false);

  File("data/src/summer.txt", "summer", kSummer);
  File("data/src/sub/winter.txt", "winter", kWinter);
  File("data/src/sub/deeper/leaf.txt", "leaf", kSummer);
  File("data/src/both.txt", "new content", kLaterSummer);
  File("data/dst/both.txt", "old", kWinter);
  File("data/src/newer-there.txt", "source", kWinter);
  File("data/dst/newer-there.txt", "destination", kSummer);
  File("data/src/same.txt", "same", kWinter);
  File("data/dst/same.txt", "same", kWinter);
  File("data/dst/extra.txt", "extra", kSummer);
  File("data/dst/gone/g.txt", "g", kWinter);

  const std::string job = BuildJob();
  ASSERT_GT(fs::file_size(JobPosix(job)), 0u);
  ASSERT_EQ(RunEngine(job, false), S_OK);

  EXPECT_EQ(Snapshot(tree.Posix("data/dst")), Snapshot(tree.Posix("data/src")));
  EXPECT_FALSE(fs::exists(JobPosix(job)));

  const DecodedPtk ptk = DecodePtk(tree.Posix(profileRel + "AUTOptk/00000.ptk"));
  ASSERT_TRUE(ptk.wellFormed);
  ASSERT_TRUE(ptk.trailer);
  EXPECT_EQ(ptk.trailer->errorFlag, 0);
  EXPECT_EQ(ptk.trailer->analyseTime, "00:00:07");
  std::map<std::string, int> messages;
  for (const PtkRecordFields& r : ptk.records) {
    EXPECT_LE(r.status, 1) << r.first << ": " << r.message;
    ++messages[r.message];
  }
  EXPECT_EQ(messages[kCopied], 5);  // summer, winter, leaf, both, newer-there
  EXPECT_EQ(messages["Die Datei/en wurde/n gelöscht."], 2);  // extra, gone/g
  EXPECT_EQ(messages["Der / die Ordner wurden gelöscht."], 1);
  EXPECT_EQ(messages["Der / die Ordner wurden erstellt."], 2);  // sub, sub/deeper

  const std::string again = BuildJob();
  EXPECT_EQ(fs::file_size(JobPosix(again)), 0u);
}

TEST_F(EndToEnd, TwoWayWithOldTimestampsStampsTheCopiesAndSettles) {
  FolderPairSpec pair;
  pair.source = Src();
  pair.destination = Dst();
  pair.Strategy(8, 1, 1).Strategy(7, 1, 1).Strategy(1, 1, 1).Strategy(0, 2, 1);
  pair.Strategy(2, 1, 1).Strategy(3, 2, 1);
  WriteProfile(pair, true);

  File("data/src/s.txt", "from source", kSummer);
  File("data/dst/d.txt", "from destination", kWinter);
  File("data/src/x.txt", "source newer", kLaterSummer);
  File("data/dst/x.txt", "x", kWinter);
  File("data/src/y.txt", "y", kWinter);
  File("data/dst/y.txt", "destination newer", kLaterSummer);
  File("data/dst/onlyhere/z.txt", "z", kSummer);

  ASSERT_EQ(RunEngine(BuildJob(), true), S_OK);

  EXPECT_EQ(Snapshot(tree.Posix("data/dst")), Snapshot(tree.Posix("data/src")));
  EXPECT_EQ(tree.Read("data/src/y.txt"), "destination newer");
  EXPECT_EQ(tree.Read("data/dst/x.txt"), "source newer");

  std::map<std::string, int64_t> stamps;
  for (const StampFields& s : DecodeOsVrl(tree.Posix(profileRel + "OS.vrl"))) stamps[s.name] = s.fileTime;
  const std::map<std::string, int64_t> expected = {
      {"s.txt", FileTimeOfEpoch(kSummer)},      {"d.txt", FileTimeOfEpoch(kWinter)},
      {"x.txt", FileTimeOfEpoch(kLaterSummer)}, {"y.txt", FileTimeOfEpoch(kLaterSummer)},
      {"z.txt", FileTimeOfEpoch(kSummer)},
  };
  EXPECT_EQ(stamps, expected);

  // Nothing left to do, and the stamps of this run do not make anything look
  // changed on both sides.
  const std::string again = BuildJob();
  EXPECT_EQ(fs::file_size(JobPosix(again)), 0u);
}

}  // namespace
}  // namespace kv
