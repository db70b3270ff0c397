#include "copyengine/oldstamp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "copyengine/tests/fake_windows.h"
#include "platform/volumes.h"
#include "testsupport/goldenrecords.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::GoldenOldStamps;

constexpr uint64_t kOld = 132000000000000000ULL;
constexpr uint64_t kNew = 133500000000000000ULL;

struct Stamp {
  std::string src, dst, name;
  uint64_t time;
};

class OldStampRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Mkdir("prof");
    path_ = tree_.Win("prof/OS.vrl");
  }

  // One run of the copy engine: the start step, the stamps, the file closed;
  // reset says whether the writer is reset for the run as the engine does.
  bool Run(const std::vector<Stamp>& stamps, bool reset = true) {
    OldStampFileStart start = StartOldStampFile(path_);
    if (reset) ResetOldStampWriter();
    for (const Stamp& s : stamps) {
      EXPECT_TRUE(WriteOldStamp(*start.stream, s.src, s.dst, static_cast<FileTime>(s.time), s.name));
    }
    start.stream->close();
    return start.previousMoved;
  }
  std::string Stored() const { return tree_.Read("prof/OS.vrl"); }
  std::string Folder(std::string_view rel) const { return tree_.WinFolder(rel); }

  test::ScopedRegistry registry_;
  test::TempTree tree_;
  std::string path_;
};

TEST_F(OldStampRunTest, StampsOfOnePairInARowShareOneBlockAndXYXGivesThreeBlocks) {
  const std::string x = Folder("src/x"), xd = Folder("dst/x"), y = Folder("src/y"), yd = Folder("dst/y");
  EXPECT_FALSE(Run({{x, xd, "a.txt", kOld}, {x, xd, "b.txt", kNew}}));
  EXPECT_EQ(Stored(), GoldenOldStamps().Block(x, xd, 2).Entry("a.txt", kOld).Entry("b.txt", kNew).text());

  // A fresh file starts with a block of its own, even when the writer was not
  // reset for it and the pair is the one written last.
  Run({{x, xd, "a", 1}, {x, xd, "b", 2}, {y, yd, "c", 3}, {x, xd, "d", 4}}, false);
  EXPECT_EQ(Stored(), GoldenOldStamps()
                          .Block(x, xd, 2).Entry("a", 1).Entry("b", 2)
                          .Block(y, yd, 1).Entry("c", 3)
                          .Block(x, xd, 1).Entry("d", 4)
                          .text());

  // The same stream object holding a new file: patching the old block's
  // place would write into nothing.
  std::stringstream stream;
  ResetOldStampWriter();
  ASSERT_TRUE(WriteOldStamp(stream, x, xd, 1, "a"));
  stream.str("");
  stream.clear();
  ASSERT_TRUE(WriteOldStamp(stream, x, xd, 2, "b"));
  EXPECT_EQ(stream.str(), GoldenOldStamps().Block(x, xd, 1).Entry("b", 2).text());
}

TEST_F(OldStampRunTest, FoldersAreWrittenInTheirUncFormAndTextsThatDoNotFitAreNotStamped) {
  platform::VolumeTable table = platform::VolumeTable::Load();
  table.Set({.root = "N:", .folder = tree_.Posix("share"), .remoteName = "\\\\srv\\daten", .mustBeMounted = false});
  table.Save();
  OldStampFileStart start = StartOldStampFile(path_);
  ResetOldStampWriter();
  EXPECT_TRUE(WriteOldStamp(*start.stream, "N:\\Quelle\\", Folder("d"), kOld, std::string(255, 'n')));
  EXPECT_FALSE(WriteOldStamp(*start.stream, Folder("s"), Folder("d"), 1, std::string(256, 'n')));
  EXPECT_FALSE(WriteOldStamp(*start.stream, "C:\\" + std::string(260, 'f') + "\\", Folder("d"), 1, "a"));
  start.stream->close();
  EXPECT_EQ(Stored(),
            GoldenOldStamps().Block("\\\\srv\\daten\\Quelle\\", Folder("d"), 1).Entry(std::string(255, 'n'), kOld).text());
}

// Earlier stamps still waiting beside P (a run was killed, or its merge
// failed) are merged before P goes aside: never thrown away.
TEST_F(OldStampRunTest, StartStepMergesWhatAKilledRunLeftBeforeThePreviousFileGoesAside) {
  const std::string x = Folder("src/x"), xd = Folder("dst/x");
  tree_.Write("src/x/a.txt", "a");
  tree_.Write("prof/OS.vrl1", GoldenOldStamps().Block(x, xd, 1).Entry("a.txt", kOld).text());
  // The killed run's file: one whole block, then a block cut off.
  const std::string cut = GoldenOldStamps().Block(x, xd, 2).Entry("c.txt", kNew).Entry("d.txt", kNew).text();
  tree_.Write("prof/OS.vrl", GoldenOldStamps().Block(x, xd, 1).Entry("b.txt", kNew).text() + cut.substr(0, 700));
  EXPECT_TRUE(Run({}));
  EXPECT_EQ(tree_.Read("prof/OS.vrl1"),
            GoldenOldStamps().Block(x, xd, 2).Entry("b.txt", kNew).Entry("a.txt", kOld).text());
  EXPECT_EQ(Stored(), "");

  // Nothing waiting beside it: P goes aside as it is.
  std::remove(tree_.Posix("prof/OS.vrl1").c_str());
  tree_.Write("prof/OS.vrl", "previous");
  EXPECT_TRUE(Run({}));
  EXPECT_EQ(tree_.Read("prof/OS.vrl1"), "previous");
  EXPECT_EQ(Stored(), "");

  EXPECT_THROW(StartOldStampFile("Q:\\nowhere\\OS.vrl"), std::runtime_error);
}

// The previous file has gone aside when this run's file is created; when
// that creation fails, the previous stamps must be P again for the next run.
TEST_F(OldStampRunTest, WhenThisRunsFileCannotBeCreatedThePreviousStampsTakeTheirNameBack) {
  struct Case {
    bool previous;      // a previous file P exists
    bool createsEmpty;  // the failing step leaves an empty P behind
  };
  for (const Case& c : {Case{true, false}, Case{true, true}, Case{false, false}}) {
    SCOPED_TRACE(testing::Message() << "previous " << c.previous << ", empty file left " << c.createsEmpty);
    std::remove(tree_.Posix("prof/OS.vrl").c_str());
    if (c.previous) tree_.Write("prof/OS.vrl", "previous stamps");
    bool previousAsideWhenCreating = false;
    const OldStampFileOpener failing = [&](const std::string& posix, std::ios::openmode mode) {
      previousAsideWhenCreating = tree_.Exists("prof/OS.vrl1") && !tree_.Exists("prof/OS.vrl");
      EXPECT_TRUE(mode & std::ios::trunc);
      if (!c.createsEmpty) return std::unique_ptr<std::fstream>();
      auto stream = std::make_unique<std::fstream>(posix, mode);
      stream->setstate(std::ios::failbit);
      return stream;
    };
    try {
      StartOldStampFile(path_, failing);
      ADD_FAILURE() << "a file that cannot be created must be reported";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path_), std::string::npos) << e.what();
    }
    EXPECT_EQ(previousAsideWhenCreating, c.previous);
    EXPECT_FALSE(tree_.Exists("prof/OS.vrl1"));
    EXPECT_EQ(tree_.Exists("prof/OS.vrl"), c.previous);
    if (c.previous) {
      EXPECT_EQ(Stored(), "previous stamps");
    }
  }
}

TEST_F(OldStampRunTest, MergeSortsBlocksOfBothFilesKeepsNewTimesAndSurvivingOldEntries) {
  const std::string x = Folder("src/x"), xd = Folder("dst/x");
  const std::string y = Folder("src/y"), yd = Folder("dst/y");
  const std::string z = Folder("src/z"), zd = Folder("dst/z");
  tree_.Write("src/x/a.txt", "a");
  tree_.Write("src/x/b.txt", "b");
  tree_.Write("src/y/c.txt", "c");

  // The previous file unsorted, X in two blocks.
  Run({{y, yd, "c.txt", kOld}, {x, xd, "A.TXT", kOld}, {z, zd, "z.txt", kOld}, {x, xd, "b.txt", kOld},
       {x, xd, "gone.txt", kOld}});
  // This run: X, Y, X again, the last with its destination in other letters.
  std::string xdUpper = xd;
  for (char& c : xdUpper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_TRUE(Run({{x, xd, "a.txt", kNew}, {y, yd, "d.txt", kNew}, {x, xdUpper, "e.txt", kNew}}));

  std::vector<std::string> calls;
  test::MergeViewRecorder view(calls);
  OldStampMergeResult result = UpdateOldStamps(path_, false, true, &view);
  EXPECT_EQ(result.outcome, OldStampMergeOutcome::Merged) << result.error;
  EXPECT_FALSE(tree_.Exists("prof/OS.vrl1"));
  // Blocks in ascending key order; in a pair this run's entries first, then
  // the earlier ones this run did not stamp whose file is still there.
  EXPECT_EQ(Stored(), GoldenOldStamps()
                          .Block(x, xd, 3).Entry("a.txt", kNew).Entry("e.txt", kNew).Entry("b.txt", kOld)
                          .Block(y, yd, 2).Entry("d.txt", kNew).Entry("c.txt", kOld)
                          .Block(z, zd, 1).Entry("z.txt", kOld)
                          .text());
  EXPECT_EQ(calls, (std::vector<std::string>{"Begin shown inactive", "Show " + x + " -> " + xd,
                                                  "Show " + y + " -> " + yd, "End"}));
}

TEST_F(OldStampRunTest, WithoutAMergeBothFilesEndAsTheyShould) {
  tree_.Write("src/x/a.txt", "a");
  const std::string previous = GoldenOldStamps().Block(Folder("src/x"), Folder("dst/x"), 1).Entry("a.txt", kOld).text();
  const std::string garbage = "\x05" "C:\\x\\" + std::string(600, '\x7f');
  struct Case {
    const char* what;
    std::string previous;
    std::vector<Stamp> stamps;
    OldStampMergeOutcome outcome;
    bool keepsPrevious;  // else this run's stamps
  } cases[] = {
      {"no stamps this run", previous, {}, OldStampMergeOutcome::PreviousRestored, true},
      {"empty previous file", "", {{Folder("s"), Folder("d"), "a", kNew}}, OldStampMergeOutcome::NoPrevious, false},
      // Nothing whole in them: no stamp to keep.
      {"garbled previous file", garbage, {{Folder("s"), Folder("d"), "a", kNew}}, OldStampMergeOutcome::Merged, false},
      {"zeros", std::string(100, '\0'), {{Folder("s"), Folder("d"), "a", kNew}}, OldStampMergeOutcome::Merged, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tree_.Write("prof/OS.vrl", c.previous);
    ASSERT_TRUE(Run(c.stamps));
    const std::string written = Stored();
    std::vector<std::string> calls;
    test::MergeViewRecorder view(calls);
    OldStampMergeResult result = UpdateOldStamps(path_, true, false, &view);
    EXPECT_EQ(result.outcome, c.outcome) << result.error;
    EXPECT_EQ(Stored(), c.keepsPrevious ? c.previous : written);
    EXPECT_FALSE(tree_.Exists("prof/OS.vrl1"));
    if (c.outcome != OldStampMergeOutcome::NoPrevious) {
      EXPECT_EQ(calls.front(), "Begin hidden");
      EXPECT_EQ(calls.back(), "End");
    }
  }

  // No previous file at all: raised after the view ended.
  std::remove(tree_.Posix("prof/OS.vrl").c_str());
  Run({{Folder("s"), Folder("d"), "a", kNew}});
  std::vector<std::string> calls;
  test::MergeViewRecorder view(calls);
  EXPECT_THROW(UpdateOldStamps(path_, false, false, &view), EOldStampFile);
  EXPECT_EQ(calls, (std::vector<std::string>{"Begin shown", "End"}));
}

}  // namespace
}  // namespace kv
