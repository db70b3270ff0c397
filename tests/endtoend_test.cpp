// A scheduler run without the scheduler: the list builder compares real
// trees and writes the job, the copy object is created from the registered
// KestroCom.dll, gets its properties in the scheduler's order and carries
// the job out. Afterwards the trees match the strategy's intent, the
// protocol and the old timestamps say what happened, and a second list finds
// nothing left to do, also for files dated on both sides of a summer/winter
// switch.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/endtoend_fixture.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace test;
using namespace platform;

constexpr const char* kCopied = "Die Datei wurde kopiert.";

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
